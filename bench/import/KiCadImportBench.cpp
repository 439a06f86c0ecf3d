// Reading a large generated KiCad board: footprints with pads, tracks, vias and zone fills.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>

#include "import/KiCadPCBParser.hpp"
#include "model/Format.hpp"

namespace {

void appendXY(std::string& out, double x, double y) {
    out += corvane::formatFixed(x, 4);
    out += ' ';
    out += corvane::formatFixed(y, 4);
}

// About `targetBytes` of board text in the shape KiCad writes.
std::string generateBoard(std::size_t targetBytes) {
    std::string b;
    b.reserve(targetBytes + (1 << 20));
    b += "(kicad_pcb (version 20221018) (generator pcbnew)\n  (layers (0 \"F.Cu\" signal) (1 \"In1.Cu\" signal) "
         "(2 \"In2.Cu\" signal) (31 \"B.Cu\" signal) (44 \"Edge.Cuts\" user))\n";
    for (int n = 0; n < 200; ++n) b += "  (net " + std::to_string(n) + " \"N" + std::to_string(n) + "\")\n";
    std::uint64_t k = 0;
    while (b.size() < targetBytes) {
        const double x = static_cast<double>(k % 300) * 1.27, y = static_cast<double>(k / 300 % 300) * 1.27;
        const std::string net = std::to_string(k % 200);
        b += "  (footprint \"Resistor_SMD:R_0603\" (layer \"F.Cu\") (at ";
        appendXY(b, x, y);
        b += " 90)\n    (property \"Reference\" \"R" + std::to_string(k) + "\" (at 0 -1.43 90) (layer \"F.SilkS\"))\n";
        for (int pad = 0; pad < 4; ++pad) {
            b += "    (pad \"" + std::to_string(pad + 1) + "\" smd roundrect (at ";
            appendXY(b, pad * 0.8 - 1.2, 0);
            b += " 90) (size 0.8 0.95) (layers \"F.Cu\" \"F.Paste\" \"F.Mask\") (roundrect_rratio 0.25) (net " + net +
                 " \"N" + net + "\") (uuid 6a1c0b7e-1111-2222-3333-444455556666))\n";
        }
        b += "    (pad \"5\" thru_hole circle (at 0 1.5) (size 1.7 1.7) (drill 1) (layers \"*.Cu\" \"*.Mask\"))\n  )\n";
        for (int t = 0; t < 6; ++t) {
            b += "  (segment (start ";
            appendXY(b, x + t, y);
            b += ") (end ";
            appendXY(b, x + t + 0.5, y + 0.7);
            b += ") (width 0.25) (layer \"F.Cu\") (net " + net + ") (uuid 0b7e6a1c-1111-2222-3333-444455556666))\n";
        }
        b += "  (via (at ";
        appendXY(b, x + 0.3, y + 0.3);
        b += ") (size 0.8) (drill 0.4) (layers \"F.Cu\" \"B.Cu\") (net " + net + "))\n";
        if (k % 20 == 0) {
            b += "  (zone (net 1) (net_name \"N1\") (layer \"B.Cu\") (filled_polygon (layer \"B.Cu\") (pts";
            for (int p = 0; p < 200; ++p) {
                b += " (xy ";
                appendXY(b, x + p * 0.01, y + (p % 2) * 0.5);
                b += ')';
            }
            b += ")))\n";
        }
        ++k;
    }
    b += "  (gr_rect (start 0 0) (end 400 400) (layer \"Edge.Cuts\") (stroke (width 0.1) (type default)))\n)\n";
    return b;
}

void BM_KiCadImport30MB(benchmark::State& state) {
    const std::string board = generateBoard(30u << 20);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(board.data());
    const corvane::KiCadPCBParser parser;
    for (auto _ : state) {
        auto package = parser.parse("bench.kicad_pcb", std::span<const std::uint8_t>(bytes, board.size()));
        benchmark::DoNotOptimize(package);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * board.size()));
}
BENCHMARK(BM_KiCadImport30MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SExprParse30MB(benchmark::State& state) {
    const std::string board = generateBoard(30u << 20);
    for (auto _ : state) {
        auto root = corvane::SExprNode::parse(board);
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * board.size()));
}
BENCHMARK(BM_SExprParse30MB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
