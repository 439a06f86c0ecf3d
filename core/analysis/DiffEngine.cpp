#include "DiffEngine.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <string_view>

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

// Objects bucketed by key in first-appearance order. Keys live in one arena and are found through
// an open-addressing table, so a million objects cost no per-key allocation.
class Buckets {
public:
    Buckets(const std::vector<const PCBObject*>& objects, double t) {
        std::size_t cap = 16;
        while (cap < objects.size() * 2) cap <<= 1;
        slots_.assign(cap, kEmpty);
        keys_.reserve(objects.size());
        arena_.reserve(objects.size() * 40);
        KeyBuilder kb(t);
        std::vector<std::size_t> bucketOf(objects.size());
        for (std::size_t i = 0; i < objects.size(); ++i) {
            const std::string& k = kb.key(*objects[i]);
            bucketOf[i] = findOrInsert(k);
        }
        // Lay the members of each bucket out contiguously, in object order.
        start_.assign(keys_.size() + 1, 0);
        for (std::size_t b : bucketOf) ++start_[b + 1];
        for (std::size_t b = 0; b < keys_.size(); ++b) start_[b + 1] += start_[b];
        members_.resize(objects.size());
        std::vector<std::size_t> fill(start_.begin(), start_.end() - 1);
        for (std::size_t i = 0; i < objects.size(); ++i) members_[fill[bucketOf[i]]++] = i;
    }

    std::size_t count() const { return keys_.size(); }
    std::string_view key(std::size_t b) const { return std::string_view(arena_).substr(keys_[b].offset, keys_[b].length); }
    std::size_t size(std::size_t b) const { return start_[b + 1] - start_[b]; }
    std::size_t member(std::size_t b, std::size_t i) const { return members_[start_[b] + i]; }

    std::size_t sizeOf(std::string_view k) const {
        const std::size_t h = std::hash<std::string_view>{}(k);
        const std::uint64_t tag = h >> 32;
        for (std::size_t s = h & (slots_.size() - 1);; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s] == kEmpty) return 0;
            const std::size_t b = slots_[s] & 0xFFFFFFFFu;
            if ((slots_[s] >> 32) == tag && key(b) == k) return size(b);
        }
    }

private:
    struct KeyRef {
        std::size_t offset, length;
    };
    // A slot holds the upper hash bits beside the bucket number, so probing rarely touches the keys.
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

    std::size_t findOrInsert(const std::string& k) {
        const std::size_t h = std::hash<std::string_view>{}(k);
        const std::uint64_t tag = h >> 32;
        for (std::size_t s = h & (slots_.size() - 1);; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s] == kEmpty) {
                const std::size_t b = keys_.size();
                slots_[s] = (tag << 32) | b;
                keys_.push_back(KeyRef{arena_.size(), k.size()});
                arena_ += k;
                return b;
            }
            const std::size_t b = slots_[s] & 0xFFFFFFFFu;
            if ((slots_[s] >> 32) == tag && key(b) == k) return b;
        }
    }

    std::string arena_;
    std::vector<KeyRef> keys_;
    std::vector<std::uint64_t> slots_;
    std::vector<std::size_t> start_;
    std::vector<std::size_t> members_;
};

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
    const Buckets ba(a, t);
    const Buckets bb(b, t);
    ObjectDiff out;
    for (std::size_t k = 0; k < ba.count(); ++k) {
        const std::size_t nB = bb.sizeOf(ba.key(k));
        for (std::size_t i = nB; i < ba.size(k); ++i) out.removed.push_back(*a[ba.member(k, i)]);
    }
    for (std::size_t k = 0; k < bb.count(); ++k) {
        const std::size_t nA = ba.sizeOf(bb.key(k));
        for (std::size_t i = nA; i < bb.size(k); ++i) out.added.push_back(*b[bb.member(k, i)]);
    }
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
    if (obj.net) text += " net " + *obj.net;
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
        for (std::size_t i = 0; i < fa.size(); ++i) {
            if (i < fb.size()) {
                makeResult(fa[i]->layerType.displayName(), fa[i]->fileName, fb[i]->fileName, {fa[i]}, {fb[i]},
                           fa[i]->layerType);
            } else {
                diff.unmatchedFilesA.push_back(fa[i]->fileName);
            }
        }
        for (std::size_t i = fa.size(); i < fb.size(); ++i) diff.unmatchedFilesB.push_back(fb[i]->fileName);
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
