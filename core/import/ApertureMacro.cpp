#include "import/ApertureMacro.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "model/Angles.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimBlank(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

double hyp(double a, double b) { return std::sqrt(a * a + b * b); }

// The direction from the origin in which a curve about (cx, cy) reaches farthest; a corner placed
// there makes the outline's extent, and so the aperture's bounding diameter, the true one.
double farAngle(double cx, double cy) { return cx == 0 && cy == 0 ? 0.0 : std::atan2(cy, cx); }

// ---------------------------------------------------------------------------------------------
// Arithmetic of macro bodies: numbers, $n, unary signs, + - x X /, parentheses.

class ExpressionReader {
public:
    ExpressionReader(std::string_view text, const std::vector<double>& vars) : s_(text), vars_(vars) {}

    // The value of the whole text, or nothing when it is not one well-formed, finite expression.
    std::optional<double> evaluateAll() {
        std::optional<double> v = sum();
        skipBlanks();
        if (!v || pos_ != s_.size() || !std::isfinite(*v)) return std::nullopt;
        return v;
    }

private:
    void skipBlanks() {
        while (pos_ < s_.size() && isBlank(s_[pos_])) ++pos_;
    }
    bool at(char c) {
        skipBlanks();
        return pos_ < s_.size() && s_[pos_] == c;
    }

    std::optional<double> sum() {
        std::optional<double> left = product();
        while (left) {
            if (at('+')) {
                ++pos_;
                auto right = product();
                if (!right) return std::nullopt;
                *left += *right;
            } else if (at('-')) {
                ++pos_;
                auto right = product();
                if (!right) return std::nullopt;
                *left -= *right;
            } else {
                break;
            }
        }
        return left;
    }

    std::optional<double> product() {
        std::optional<double> left = factor();
        while (left) {
            if (at('x') || at('X')) {
                ++pos_;
                auto right = factor();
                if (!right) return std::nullopt;
                *left *= *right;
            } else if (at('/')) {
                ++pos_;
                auto right = factor();
                if (!right) return std::nullopt;
                *left /= *right;
            } else {
                break;
            }
        }
        return left;
    }

    std::optional<double> factor() {
        if (++depth_ > ApertureMacro::maxExpressionDepth) return std::nullopt;
        std::optional<double> result;
        skipBlanks();
        if (pos_ >= s_.size()) {
            result = std::nullopt;
        } else if (s_[pos_] == '-' || s_[pos_] == '+') {
            const bool negate = s_[pos_] == '-';
            ++pos_;
            result = factor();
            if (result && negate) *result = -*result;
        } else if (s_[pos_] == '(') {
            ++pos_;
            result = sum();
            if (result && at(')')) ++pos_;
            else result = std::nullopt;
        } else if (s_[pos_] == '$') {
            ++pos_;
            std::int64_t index = 0;
            const auto [ptr, ec] = std::from_chars(s_.data() + pos_, s_.data() + s_.size(), index);
            if (ec != std::errc() || index < 0) {
                result = std::nullopt;
            } else {
                pos_ = static_cast<std::size_t>(ptr - s_.data());
                // An unset variable reads 0, as the format defines.
                result = static_cast<std::size_t>(index) < vars_.size() ? vars_[static_cast<std::size_t>(index)] : 0.0;
            }
        } else {
            std::size_t end = pos_;
            while (end < s_.size() && ((s_[end] >= '0' && s_[end] <= '9') || s_[end] == '.')) ++end;
            double v = 0;
            if (end > pos_ && parseDouble(s_.substr(pos_, end - pos_), v)) {
                pos_ = end;
                result = v;
            }
        }
        --depth_;
        return result;
    }

    std::string_view s_;
    const std::vector<double>& vars_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Primitive outlines, built in file units and scaled to millimetres at the end.

class OutlineBuilder {
public:
    OutlineBuilder(double mmPerUnit, std::size_t& budget) : mmPerUnit_(mmPerUnit), budget_(budget) {}

    bool failed() const { return failed_; }
    std::vector<Contour> take() { return std::move(contours_); }

    // Starts a contour; points are added with add(), and finish() rotates and keeps it.
    void begin() { current_.clear(); }
    void add(double x, double y) {
        if (current_.size() < ApertureMacro::maxOutlinePoints + 1) current_.push_back(Vec2{x, y});
    }
    void finish(double rotationDeg) {
        if (current_.size() < 3) return;
        if (totalPoints_ + current_.size() > ApertureMacro::maxOutlinePoints || current_.size() > budget_) {
            failed_ = true;
            return;
        }
        budget_ -= current_.size();
        totalPoints_ += current_.size();
        const double a = rotationDeg * kPi / 180.0;
        const double c = rotationDeg == 0 ? 1.0 : std::cos(a);
        const double s = rotationDeg == 0 ? 0.0 : std::sin(a);
        Contour out;
        out.reserve(current_.size());
        for (const Vec2& p : current_) {
            const Vec2 q{(p.x * c - p.y * s) * mmPerUnit_, (p.x * s + p.y * c) * mmPerUnit_};
            if (!std::isfinite(q.x) || !std::isfinite(q.y)) {
                failed_ = true;
                return;
            }
            out.push_back(q);
        }
        contours_.push_back(std::move(out));
    }

    // Points along a circle of radius r about (cx, cy) from angle a0 to a1 (radians), both ends included,
    // within kOutlineChordMM of it, with a corner where it reaches farthest from the origin.
    void addArc(double cx, double cy, double r, double a0, double a1) {
        const double lo = std::min(a0, a1), hi = std::max(a0, a1);
        double far = farAngle(cx, cy);
        far += kTwoPi * std::ceil((lo - far) / kTwoPi);
        if (far > lo && far < hi) {
            addArcPart(cx, cy, r, a0, far, true);
            addArcPart(cx, cy, r, far, a1, false);
        } else {
            addArcPart(cx, cy, r, a0, a1, true);
        }
    }

    void circle(double cx, double cy, double diameter, double rotationDeg) {
        const double r = std::abs(diameter) * 0.5;
        if (!(r > 0)) return;
        const std::int64_t n = outlineDiscSides(std::abs(diameter) * mmPerUnit_);
        const double from = farAngle(cx, cy);
        begin();
        for (std::int64_t k = 0; k < n; ++k) {
            const double t = from + kTwoPi * static_cast<double>(k) / static_cast<double>(n);
            add(cx + r * std::cos(t), cy + r * std::sin(t));
        }
        finish(rotationDeg);
    }

    void rectangle(double x0, double y0, double x1, double y1, double rotationDeg) {
        if (!(x1 > x0) || !(y1 > y0)) return;
        begin();
        add(x0, y0);
        add(x1, y0);
        add(x1, y1);
        add(x0, y1);
        finish(rotationDeg);
    }

    void vectorLine(double width, double sx, double sy, double ex, double ey, double rotationDeg) {
        const double h = std::abs(width) * 0.5;
        const double dx = ex - sx;
        const double dy = ey - sy;
        const double len = std::sqrt(dx * dx + dy * dy);
        if (!(h > 0) || !(len > 0)) return;
        const double nx = -dy / len * h;
        const double ny = dx / len * h;
        begin();
        add(sx - nx, sy - ny);
        add(ex - nx, ey - ny);
        add(ex + nx, ey + ny);
        add(sx + nx, sy + ny);
        finish(rotationDeg);
    }

    // The part of an annulus (rOuter > rInner ≥ 0) between two angles, as one simple contour.
    void annularSector(double cx, double cy, double rOuter, double rInner, double a0, double a1, double rotationDeg) {
        begin();
        addArc(cx, cy, rOuter, a0, a1);
        if (rInner > 0) addArc(cx, cy, rInner, a1, a0);
        else add(cx, cy);
        finish(rotationDeg);
    }

    void thermal(double cx, double cy, double outerDia, double innerDia, double gap, double rotationDeg) {
        const double R = std::abs(outerDia) * 0.5;
        const double r = std::abs(innerDia) * 0.5;
        const double g = std::abs(gap) * 0.5;
        if (!(R > r) || !(R * R > 2 * g * g)) return;
        // One segment per quadrant, between the gap strips along the axes.
        const double outerFrom = std::atan2(g, std::sqrt(R * R - g * g));
        const bool innerArc = r * r > 2 * g * g;
        const double innerFrom = innerArc ? std::atan2(g, std::sqrt(r * r - g * g)) : 0.0;
        for (int q = 0; q < 4; ++q) {
            const double base = kPi * 0.5 * q;
            begin();
            addArc(cx, cy, R, base + outerFrom, base + kPi * 0.5 - outerFrom);
            if (innerArc) {
                addArc(cx, cy, r, base + kPi * 0.5 - innerFrom, base + innerFrom);
            } else {
                // The inner edge collapses to the corner where the two gap strips meet.
                const double c = std::cos(base), s = std::sin(base);
                add(cx + g * c - g * s, cy + g * s + g * c);
            }
            finish(rotationDeg);
        }
    }

private:
    void addArcPart(double cx, double cy, double r, double a0, double a1, bool withStart) {
        const std::int64_t steps = outlineChords(r * mmPerUnit_, a1 - a0);
        for (std::int64_t k = withStart ? 0 : 1; k <= steps; ++k) {
            const double t = a0 + (a1 - a0) * static_cast<double>(k) / static_cast<double>(steps);
            add(cx + r * std::cos(t), cy + r * std::sin(t));
        }
    }

    double mmPerUnit_;
    std::size_t& budget_;
    std::size_t totalPoints_ = 0;
    bool failed_ = false;
    Contour current_;
    std::vector<Contour> contours_;
};

bool startsWithLetter(std::string_view s) {
    return !s.empty() && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

} // namespace

std::optional<std::int64_t> ApertureMacro::truncatedCount(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    const double t = std::trunc(v);
    if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::int64_t ApertureMacro::discSegments(double diameterMM) {
    return outlineDiscSides(diameterMM);
}

double ApertureMacro::measureBoundingDiameter(const std::vector<std::string>& statements) {
    double maxRadius = 0;
    std::vector<double> m;
    for (const std::string& statement : statements) {
        m.clear();
        std::string_view rest = statement;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view piece = trimBlank(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            double v = 0;
            // Non-finite numbers are unreadable, never a size.
            if (!piece.empty() && parseDouble(piece, v) && std::isfinite(v)) m.push_back(v);
        }
        const std::size_t n = m.size();
        if (n == 0) continue;
        const auto code = ApertureMacro::truncatedCount(m[0]);
        if (!code) continue;
        double radius = -1;
        switch (*code) {
        case 1:
            if (n >= 5) radius = std::abs(m[2]) * 0.5 + hyp(m[3], m[4]);
            break;
        case 2:
        case 20:
            if (n >= 7) radius = hyp(m[5], m[6]) + (std::abs(m[2]) + std::abs(m[3]) + std::abs(m[4])) * 0.5;
            break;
        case 21:
        case 22:
            if (n >= 6) radius = hyp(m[4], m[5]) + hyp(m[2], m[3]) * 0.5;
            break;
        case 4:
            if (n >= 5) {
                const auto k = ApertureMacro::truncatedCount(m[2]);
                if (!k) break;
                radius = hyp(m[3], m[4]);
                if (std::isnan(radius)) radius = 0;
                for (std::int64_t pair = 1; pair <= *k; ++pair) {
                    const std::size_t xi = 3 + 2 * static_cast<std::size_t>(pair);
                    if (xi + 1 >= n) break;
                    radius = std::max(radius, hyp(m[xi], m[xi + 1]));
                }
            }
            break;
        case 5:
            if (n >= 6) radius = hyp(m[3], m[4]) + std::abs(m[5]) * 0.5;
            break;
        case 6:
        case 7:
            if (n >= 4) radius = hyp(m[1], m[2]) + std::abs(m[3]) * 0.5;
            break;
        default:
            break;
        }
        if (std::isfinite(radius) && radius > maxRadius) maxRadius = radius;
    }
    return maxRadius * 2;
}

std::optional<std::vector<Contour>> ApertureMacro::evaluate(const std::vector<std::string>& statements,
                                                            std::span<const double> parameters, double mmPerUnit,
                                                            std::size_t& workBudget) {
    if (statements.size() > maxStatements || statements.size() > workBudget || !std::isfinite(mmPerUnit)) {
        return std::nullopt;
    }
    workBudget -= statements.size();

    std::vector<double> vars(std::min<std::size_t>(parameters.size(), static_cast<std::size_t>(maxVariableIndex)) + 1, 0.0);
    for (std::size_t i = 0; i + 1 < vars.size(); ++i) vars[i + 1] = std::isfinite(parameters[i]) ? parameters[i] : 0.0;

    OutlineBuilder out(mmPerUnit, workBudget);
    std::vector<double> f;
    bool sawPrimitive = false;

    for (const std::string& raw : statements) {
        const std::string_view st = trimBlank(raw);
        // Empty statements, and commands that strayed into the body, carry no geometry.
        if (st.empty() || startsWithLetter(st)) continue;

        if (st[0] == '$') {
            const std::size_t eq = st.find('=');
            if (eq == std::string_view::npos) return std::nullopt;
            const std::string_view lhs = trimBlank(st.substr(1, eq - 1));
            std::int64_t index = 0;
            if (!parseInt64(lhs, index) || index < 1 || index > maxVariableIndex) return std::nullopt;
            const auto value = ExpressionReader(st.substr(eq + 1), vars).evaluateAll();
            if (!value) return std::nullopt;
            if (static_cast<std::size_t>(index) >= vars.size()) vars.resize(static_cast<std::size_t>(index) + 1, 0.0);
            vars[static_cast<std::size_t>(index)] = *value;
            continue;
        }

        // The primitive code is a literal integer; code 0 is a comment whatever follows it.
        std::size_t digitsEnd = 0;
        while (digitsEnd < st.size() && st[digitsEnd] >= '0' && st[digitsEnd] <= '9') ++digitsEnd;
        std::int64_t code = 0;
        if (digitsEnd == 0 || !parseInt64(st.substr(0, digitsEnd), code)) return std::nullopt;
        if (code == 0) continue;

        f.clear();
        std::string_view rest = st.substr(digitsEnd);
        rest = trimBlank(rest);
        if (!rest.empty()) {
            if (rest[0] != ',') return std::nullopt;
            rest.remove_prefix(1);
            while (true) {
                const std::size_t comma = rest.find(',');
                const auto value = ExpressionReader(rest.substr(0, comma), vars).evaluateAll();
                if (!value) return std::nullopt;
                f.push_back(*value);
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 1);
            }
        }
        // Trailing rotation is optional; the leading modifiers are not.
        auto need = [&](std::size_t required) { return f.size() >= required; };
        auto rotationAt = [&](std::size_t i) { return i < f.size() ? f[i] : 0.0; };
        auto exposed = [&]() { return std::abs(f[0]) >= 0.5; };
        sawPrimitive = true;

        switch (code) {
        case 1:  // circle: exposure, diameter, x, y[, rotation]
            if (!need(4)) return std::nullopt;
            if (exposed()) out.circle(f[2], f[3], f[1], rotationAt(4));
            break;
        case 2:
        case 20:  // vector line: exposure, width, start x, y, end x, y[, rotation]
            if (!need(6)) return std::nullopt;
            if (exposed()) out.vectorLine(f[1], f[2], f[3], f[4], f[5], rotationAt(6));
            break;
        case 21: {  // centre line: exposure, width, height, centre x, y[, rotation]
            if (!need(5)) return std::nullopt;
            const double w = std::abs(f[1]) * 0.5, h = std::abs(f[2]) * 0.5;
            if (exposed()) out.rectangle(f[3] - w, f[4] - h, f[3] + w, f[4] + h, rotationAt(5));
            break;
        }
        case 22: {  // lower-left line: exposure, width, height, lower-left x, y[, rotation]
            if (!need(5)) return std::nullopt;
            if (exposed()) out.rectangle(f[3], f[4], f[3] + std::abs(f[1]), f[4] + std::abs(f[2]), rotationAt(5));
            break;
        }
        case 4: {  // outline: exposure, n, n + 1 points (the last repeats the first)[, rotation]
            if (!need(2)) return std::nullopt;
            const auto n = ApertureMacro::truncatedCount(f[1]);
            if (!n || *n < 1 || *n > maxVerticesPerPrimitive) return std::nullopt;
            const std::size_t points = static_cast<std::size_t>(*n) + 1;
            if (!need(2 + 2 * points)) return std::nullopt;
            if (!exposed()) break;
            std::size_t count = points;
            if (f[2] == f[2 + 2 * (points - 1)] && f[3] == f[3 + 2 * (points - 1)]) --count;
            out.begin();
            for (std::size_t k = 0; k < count; ++k) out.add(f[2 + 2 * k], f[3 + 2 * k]);
            out.finish(rotationAt(2 + 2 * points));
            break;
        }
        case 5: {  // polygon: exposure, vertices, centre x, y, diameter[, rotation]
            if (!need(5)) return std::nullopt;
            const auto n = ApertureMacro::truncatedCount(f[1]);
            if (!n || *n < 3 || *n > maxVerticesPerPrimitive) return std::nullopt;
            const double r = std::abs(f[4]) * 0.5;
            if (!exposed() || !(r > 0)) break;
            out.begin();
            for (std::int64_t k = 0; k < *n; ++k) {
                const double t = kTwoPi * static_cast<double>(k) / static_cast<double>(*n);
                out.add(f[2] + r * std::cos(t), f[3] + r * std::sin(t));
            }
            out.finish(rotationAt(5));
            break;
        }
        case 6: {  // moiré: centre x, y, outer diameter, ring thickness, gap, rings, cross thickness, length[, rotation]
            if (!need(8)) return std::nullopt;
            const double cx = f[0], cy = f[1];
            const double thickness = std::abs(f[3]), gap = std::abs(f[4]);
            const auto rings = ApertureMacro::truncatedCount(f[5]);
            if (!rings) return std::nullopt;
            const double rotation = rotationAt(8);
            const std::int64_t ringCount = std::clamp<std::int64_t>(*rings, 0, maxMoireRings);
            for (std::int64_t k = 0; k < ringCount; ++k) {
                const double rOuter = std::abs(f[2]) * 0.5 - static_cast<double>(k) * (thickness + gap);
                if (!(rOuter > 0) || !(thickness > 0)) break;
                const double rInner = std::max(0.0, rOuter - thickness);
                // Two half rings keep every contour simple.
                out.annularSector(cx, cy, rOuter, rInner, 0, kPi, rotation);
                out.annularSector(cx, cy, rOuter, rInner, kPi, kTwoPi, rotation);
            }
            const double ct = std::abs(f[6]) * 0.5, cl = std::abs(f[7]) * 0.5;
            out.rectangle(cx - cl, cy - ct, cx + cl, cy + ct, rotation);
            out.rectangle(cx - ct, cy - cl, cx + ct, cy + cl, rotation);
            break;
        }
        case 7:  // thermal: centre x, y, outer diameter, inner diameter, gap[, rotation]
            if (!need(5)) return std::nullopt;
            out.thermal(f[0], f[1], f[2], f[3], f[4], rotationAt(5));
            break;
        default:
            return std::nullopt;
        }
        if (out.failed()) return std::nullopt;
    }
    if (!sawPrimitive) return std::nullopt;
    return out.take();
}

} // namespace corvane
