#include "DiffEngine.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <string_view>

#include "model/Format.hpp"

namespace corvane {

namespace {

// Objects are compared through a key: coordinates rounded to the tolerance, the nominal width in
// microns, the polarity and the kind. The key is a compact byte string holding the same
// information as the readable form (kind|x,y|...|p=dark|w=250), so equal keys mean equal objects
// under the tolerance, without formatting numbers for every object.
class KeyBuilder {
public:
    explicit KeyBuilder(double t) : t_(t) {}

    const std::string& key(const PCBObject& obj) {
        buf_.clear();
        buf_.push_back(static_cast<char>('A' + obj.kind.value.index()));
        if (const auto* s = obj.kind.as<PCBObjectKind::Stroke>()) {
            point(s->start); point(s->end);
        } else if (const auto* a = obj.kind.as<PCBObjectKind::ArcStroke>()) {
            point(a->start); point(a->end); point(a->center);
            buf_.push_back(a->clockwise ? '1' : '0');
        } else if (const auto* f = obj.kind.as<PCBObjectKind::Flash>()) {
            point(f->at);
        } else if (const auto* r = obj.kind.as<PCBObjectKind::Region>()) {
            count(r->contours.size());
            for (const auto& c : r->contours) {
                count(c.size());
                for (const auto& p : c) point(p);
            }
        } else if (const auto* d = obj.kind.as<PCBObjectKind::Drill>()) {
            point(d->at); scaled(d->diameterMM / t_);
        } else if (const auto* sl = obj.kind.as<PCBObjectKind::Slot>()) {
            point(sl->start); point(sl->end); scaled(sl->diameterMM / t_);
        }
        buf_.push_back(obj.polarity == Polarity::clear ? 'c' : 'd');
        if (obj.apertureShape) scaled(obj.apertureShape->strokeNominalWidth() * 1000.0);
        else buf_.push_back('-');
        return buf_;
    }

private:
    void raw(const void* p, std::size_t n) { buf_.append(static_cast<const char*>(p), n); }
    void count(std::size_t n) { const std::uint64_t v = n; buf_.push_back('#'); raw(&v, sizeof v); }
    void point(const Vec2& p) { scaled(p.x / t_); scaled(p.y / t_); }

    // A rounded integer, or, where rounding cannot give one (not finite, beyond 64 bits), the exact
    // double itself under a different tag, so such values never collide with integers or wrap.
    void scaled(double v) {
        if (std::isfinite(v) && std::fabs(v) < 9.2233720368547758e18) {
            const std::int64_t i = std::llround(v);
            buf_.push_back('i');
            raw(&i, sizeof i);
        } else {
            if (std::isnan(v)) v = std::signbit(v) ? -std::numeric_limits<double>::quiet_NaN()
                                                   : std::numeric_limits<double>::quiet_NaN();
            std::uint64_t bits;
            std::memcpy(&bits, &v, sizeof bits);
            buf_.push_back('x');
            raw(&bits, sizeof bits);
        }
    }

    double t_;
    std::string buf_;
};

// A 128-bit digest of a key. Two different keys share one with a chance of about 2^-128 per pair, so
// digests stand in for the keys themselves and grouping never touches key bytes again.
struct Digest {
    std::uint64_t hi = 0, lo = 0;
    bool operator==(const Digest&) const = default;
    bool operator<(const Digest& o) const { return hi != o.hi ? hi < o.hi : lo < o.lo; }
};

inline std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    x ^= x >> 32;
    return x;
}

Digest digestOf(std::string_view bytes) {
    std::uint64_t h1 = 0x9e3779b97f4a7c15ULL ^ bytes.size(), h2 = 0xc2b2ae3d27d4eb4fULL + bytes.size();
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t w;
        std::memcpy(&w, bytes.data() + i, 8);
        h1 = mix(h1 ^ w) + 0x165667b19e3779f9ULL;
        h2 = mix(h2 + w * 0x94d049bb133111ebULL) ^ h1;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    h1 = mix(h1 ^ tail ^ (0xffULL << 56));
    h2 = mix(h2 + tail + h1);
    return Digest{h1, h2};
}

struct Keyed {
    Digest digest;
    std::uint32_t index;  // position in the object list
};

// The objects' digests sorted so equal keys sit together, each run in object order.
std::vector<Keyed> sortedDigests(const std::vector<const PCBObject*>& objects, double t) {
    std::vector<Keyed> out(objects.size());
    KeyBuilder kb(t);
    for (std::size_t i = 0; i < objects.size(); ++i)
        out[i] = Keyed{digestOf(kb.key(*objects[i])), static_cast<std::uint32_t>(i)};
    std::sort(out.begin(), out.end(), [](const Keyed& x, const Keyed& y) {
        return x.digest < y.digest || (x.digest == y.digest && x.index < y.index);
    });
    return out;
}

// The objects of `mine` beyond the count that `theirs` holds of the same key, ordered by the first
// appearance of their key in `mine` and then by object order, as a per-key bucket walk yields them.
std::vector<std::uint32_t> surplus(const std::vector<Keyed>& mine, const std::vector<Keyed>& theirs) {
    struct Pick {
        std::uint32_t firstOfKey, index;
    };
    std::vector<Pick> picks;
    std::size_t j = 0;
    for (std::size_t i = 0; i < mine.size();) {
        std::size_t end = i;
        while (end < mine.size() && mine[end].digest == mine[i].digest) ++end;
        while (j < theirs.size() && theirs[j].digest < mine[i].digest) ++j;
        std::size_t count = 0;
        while (j + count < theirs.size() && theirs[j + count].digest == mine[i].digest) ++count;
        for (std::size_t k = i + count; k < end; ++k) picks.push_back(Pick{mine[i].index, mine[k].index});
        i = end;
    }
    std::sort(picks.begin(), picks.end(), [](const Pick& x, const Pick& y) {
        return x.firstOfKey != y.firstOfKey ? x.firstOfKey < y.firstOfKey : x.index < y.index;
    });
    std::vector<std::uint32_t> out;
    out.reserve(picks.size());
    for (const auto& p : picks) out.push_back(p.index);
    return out;
}

// The objects of some files without copying the Gerber ones; drill hits are made once here.
struct ObjectList {
    std::vector<PCBObject> made;
    std::vector<const PCBObject*> all;

    void add(const PackageFile& f) {
        std::size_t drillCount = f.drill ? f.drill->hits.size() : 0;
        if (f.gerber)
            for (const auto& o : f.gerber->objects) all.push_back(&o);
        if (drillCount) {
            // Pointers into `made` are taken after all hits are made, so it never reallocates under them.
            const std::size_t first = made.size();
            for (std::size_t i = 0; i < drillCount; ++i) made.push_back(f.drill->hitObject(i));
            pending.push_back({first, all.size(), drillCount});
            all.resize(all.size() + drillCount, nullptr);
        }
        if (f.drill)
            for (const auto& o : f.drill->slots) all.push_back(&o);
    }
    const std::vector<const PCBObject*>& finish() {
        for (const auto& p : pending)
            for (std::size_t i = 0; i < p.count; ++i) all[p.at + i] = &made[p.first + i];
        pending.clear();
        return all;
    }

private:
    struct Pending {
        std::size_t first, at, count;
    };
    std::vector<Pending> pending;
};

ObjectDiff diffPointers(const std::vector<const PCBObject*>& a, const std::vector<const PCBObject*>& b, double t) {
    const auto da = sortedDigests(a, t);
    const auto db = sortedDigests(b, t);
    ObjectDiff out;
    for (std::uint32_t i : surplus(da, db)) out.removed.push_back(*a[i]);
    for (std::uint32_t i : surplus(db, da)) out.added.push_back(*b[i]);
    return out;
}

DiffChange change(const PCBObject& obj, const char* kind) {
    return DiffChange{kind, obj.typeName(), obj.bbox.center(), obj.bbox, DiffEngine::describe(obj)};
}

std::int64_t resultRank(const LayerType& t) {
    const auto side = t.side();
    const std::int64_t order = side ? side->sortOrder() : 0;
    switch (t.value.index()) {
    case 0: return order;
    case 1: return 10000 + order;
    case 2: return 20000 + order;
    case 3: return 30000 + order;
    case 4: return 40000;
    case 5: return 50000;
    default: return 60000;
    }
}

// How long the start of a file name is that every file of the package shares (a project's name, "ESP32_RevA-"),
// cut back to a separator so that no word is split; none for a package of one file.
std::size_t sharedStartLength(const PCBPackage& p) {
    if (p.files.size() < 2) return 0;
    std::string_view start = p.files.front().fileName;
    for (const auto& f : p.files) {
        const std::string_view name = f.fileName;
        const auto [x, y] = std::mismatch(start.begin(), start.end(), name.begin(), name.end());
        start = start.substr(0, static_cast<std::size_t>(x - start.begin()));
    }
    const auto isSeparator = [](char c) { return c == '-' || c == '_' || c == '.' || c == ' '; };
    while (!start.empty() && !isSeparator(start.back())) start.remove_suffix(1);
    return start.size();
}

// The files of A and B that share a role, paired: first those of the same name, then those whose names are
// the same past the start their package's files share (a revision renamed "RevA-" to "RevB-"), then the rest
// in their order. `partner[i]` is the file of B paired with A's i-th, or none.
std::vector<std::optional<std::size_t>> pairFiles(const std::vector<const PackageFile*>& fa,
                                                  const std::vector<const PackageFile*>& fb, std::size_t startA,
                                                  std::size_t startB) {
    std::vector<std::optional<std::size_t>> partner(fa.size());
    std::vector<bool> taken(fb.size(), false);
    const auto tail = [](const PackageFile* f, std::size_t start) {
        return asciiLower(std::string_view(f->fileName).substr(std::min(start, f->fileName.size())));
    };
    const auto pairWhere = [&](auto same) {
        for (std::size_t i = 0; i < fa.size(); ++i) {
            if (partner[i]) continue;
            for (std::size_t j = 0; j < fb.size(); ++j) {
                if (taken[j] || !same(i, j)) continue;
                partner[i] = j;
                taken[j] = true;
                break;
            }
        }
    };
    pairWhere([&](std::size_t i, std::size_t j) { return fa[i]->fileName == fb[j]->fileName; });
    pairWhere([&](std::size_t i, std::size_t j) { return tail(fa[i], startA) == tail(fb[j], startB); });
    pairWhere([](std::size_t, std::size_t) { return true; });
    return partner;
}

} // namespace

ObjectDiff DiffEngine::compareObjects(const std::vector<PCBObject>& a, const std::vector<PCBObject>& b) const {
    std::vector<const PCBObject*> pa, pb;
    pa.reserve(a.size());
    pb.reserve(b.size());
    for (const auto& o : a) pa.push_back(&o);
    for (const auto& o : b) pb.push_back(&o);
    return diffPointers(pa, pb, toleranceMM);
}

std::string DiffEngine::describe(const PCBObject& obj) {
    const Vec2 c = obj.bbox.center();
    std::string text = obj.typeName() + " at (" + formatFixed(c.x, 3) + ", " + formatFixed(c.y, 3) + ")";
    std::optional<double> size;
    if (const auto* d = obj.kind.as<PCBObjectKind::Drill>()) size = d->diameterMM;
    else if (const auto* s = obj.kind.as<PCBObjectKind::Slot>()) size = s->diameterMM;
    else if (obj.apertureShape) size = obj.apertureShape->strokeNominalWidth();
    if (size) text += " \u00D8" + formatFixed(*size, 3);
    if (obj.net()) text += " net " + *obj.net();
    return text;
}

PackageDiff DiffEngine::compare(const PCBPackage& a, const PCBPackage& b) const {
    std::map<std::string, std::vector<const PackageFile*>> groupsA, groupsB;
    for (const auto& f : a.files) groupsA[f.layerType.matchKey()].push_back(&f);
    for (const auto& f : b.files) groupsB[f.layerType.matchKey()].push_back(&f);

    struct Ranked {
        LayerDiffResult result;
        std::int64_t rank;
    };
    std::vector<Ranked> results;
    PackageDiff diff;
    diff.nameA = a.name;
    diff.nameB = b.name;

    auto makeResult = [&](std::string key, std::string nameA, std::string nameB,
                          const std::vector<const PackageFile*>& fa, const std::vector<const PackageFile*>& fb,
                          const LayerType& type) {
        ObjectList la, lb;
        for (const auto* f : fa) la.add(*f);
        for (const auto* f : fb) lb.add(*f);
        const ObjectDiff d = diffPointers(la.finish(), lb.finish(), toleranceMM);
        LayerDiffResult r;
        r.layerKey = std::move(key);
        r.fileNameA = std::move(nameA);
        r.fileNameB = std::move(nameB);
        r.added.reserve(d.added.size());
        r.removed.reserve(d.removed.size());
        for (const auto& o : d.added) r.added.push_back(change(o, "Added"));
        for (const auto& o : d.removed) r.removed.push_back(change(o, "Removed"));
        results.push_back(Ranked{std::move(r), resultRank(type)});
    };
    auto joinNames = [](const std::vector<const PackageFile*>& files) {
        std::string s;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (i) s += ", ";
            s += files[i]->fileName;
        }
        return s;
    };

    const auto da = groupsA.find("drill");
    const auto db = groupsB.find("drill");
    const bool hasA = da != groupsA.end() && !da->second.empty();
    const bool hasB = db != groupsB.end() && !db->second.empty();
    if (hasA && hasB) {
        makeResult("Drill", joinNames(da->second), joinNames(db->second), da->second, db->second, LayerType::drill());
    } else {
        if (hasA) for (const auto* f : da->second) diff.unmatchedFilesA.push_back(f->fileName);
        if (hasB) for (const auto* f : db->second) diff.unmatchedFilesB.push_back(f->fileName);
    }

    std::vector<std::string> keys;
    for (const auto& [k, v] : groupsA) if (k != "drill") keys.push_back(k);
    for (const auto& [k, v] : groupsB) if (k != "drill" && !groupsA.count(k)) keys.push_back(k);
    std::sort(keys.begin(), keys.end());
    static const std::vector<const PackageFile*> none;
    const std::size_t startA = sharedStartLength(a), startB = sharedStartLength(b);
    for (const auto& key : keys) {
        const auto ia = groupsA.find(key), ib = groupsB.find(key);
        const auto& fa = ia == groupsA.end() ? none : ia->second;
        const auto& fb = ib == groupsB.end() ? none : ib->second;
        if (fa.empty()) {
            for (const auto* f : fb) diff.unmatchedFilesB.push_back(f->fileName);
            continue;
        }
        if (fb.empty()) {
            for (const auto* f : fa) diff.unmatchedFilesA.push_back(f->fileName);
            continue;
        }
        // Several files of one role (drawings the classifier left without one, say) are compared file by file:
        // each with its namesake in the other revision, so that a file dropped from the middle leaves the others
        // paired as they were.
        const auto partner = pairFiles(fa, fb, startA, startB);
        std::vector<bool> paired(fb.size(), false);
        for (std::size_t i = 0; i < fa.size(); ++i) {
            if (const auto j = partner[i]) {
                paired[*j] = true;
                makeResult(fa[i]->layerType.displayName(), fa[i]->fileName, fb[*j]->fileName, {fa[i]}, {fb[*j]},
                           fa[i]->layerType);
            } else {
                diff.unmatchedFilesA.push_back(fa[i]->fileName);
            }
        }
        for (std::size_t j = 0; j < fb.size(); ++j)
            if (!paired[j]) diff.unmatchedFilesB.push_back(fb[j]->fileName);
    }

    std::stable_sort(results.begin(), results.end(), [](const Ranked& x, const Ranked& y) {
        if (x.rank != y.rank) return x.rank < y.rank;
        return x.result.layerKey < y.result.layerKey;
    });
    diff.layers.reserve(results.size());
    for (auto& r : results) diff.layers.push_back(std::move(r.result));
    return diff;
}

} // namespace corvane
