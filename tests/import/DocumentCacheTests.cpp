#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "import/DocumentCache.hpp"

using namespace corvane;

namespace {

PCBPackage packageNamed(const std::string& name) {
    PCBPackage p;
    p.name = name;
    p.warnings = {"w-" + name};
    return p;
}

std::string key(int i) { return "key" + std::to_string(i); }

} // namespace

TEST(DocumentCache, StoresReplacesAndShares) {
    DocumentCache cache;
    EXPECT_FALSE(cache.package("missing"));
    cache.store(packageNamed("first"), "k");
    cache.store(packageNamed("second"), "k");
    auto got = cache.package("k");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->name, "second");
    // The one package is handed out, never a copy of it.
    const auto shown = std::make_shared<const PCBPackage>(packageNamed("shown"));
    cache.store(shown, "s");
    EXPECT_EQ(cache.package("s"), shown);
    EXPECT_EQ(cache.package("k"), got);

    GerberDocument doc;
    doc.fileFunction = "Copper,L1,Top";
    cache.store(doc, "k"); // the two kinds do not share keys
    EXPECT_EQ(cache.gerber("k")->fileFunction, "Copper,L1,Top");
    EXPECT_EQ(cache.package("k")->name, "second");

    cache.removeAll();
    EXPECT_FALSE(cache.package("k"));
    EXPECT_FALSE(cache.gerber("k"));
}

TEST(DocumentCache, LimitsEvictTheLeastRecentlyUsed) {
    DocumentCache cache;
    for (int i = 0; i < 12; ++i) cache.store(packageNamed(key(i)), key(i));
    EXPECT_TRUE(cache.package(key(0))); // touch the oldest: it stays
    cache.store(packageNamed("new"), "new");
    EXPECT_TRUE(cache.package(key(0)));
    EXPECT_FALSE(cache.package(key(1)));
    int kept = 0;
    for (int i = 0; i < 12; ++i) kept += cache.package(key(i)) != nullptr;
    EXPECT_EQ(kept, 11);

    for (int i = 0; i < 100; ++i) cache.store(GerberDocument{}, key(i));
    int gerbers = 0;
    for (int i = 0; i < 100; ++i) gerbers += cache.gerber(key(i)) != nullptr;
    EXPECT_EQ(gerbers, 64);
    EXPECT_TRUE(cache.gerber(key(99)));
}

TEST(DocumentCache, SharedInstanceIsOneAndSafeAcrossThreads) {
    EXPECT_EQ(&DocumentCache::shared(), &DocumentCache::shared());
    DocumentCache& cache = DocumentCache::shared();
    cache.removeAll();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&cache, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string k = key((i * 7 + t) % 30);
                if (i % 3 == 0) cache.store(packageNamed(k), k);
                else if (i % 3 == 1) cache.store(GerberDocument{}, k);
                else if (auto p = cache.package(k)) {
                    EXPECT_EQ(p->name, k);
                }
                if (i % 500 == 499) cache.removeAll();
            }
        });
    for (auto& th : threads) th.join();
    int packages = 0;
    for (int i = 0; i < 30; ++i) packages += cache.package(key(i)) != nullptr;
    EXPECT_LE(packages, 12);
    cache.removeAll();
}
