// The size map of a report: the squarified layout, and the bounded tree of
// folders and files it is drawn from.
#include <algorithm>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "platform/hex.h"
#include "report/size_map.h"
#include "report/squarified_treemap.h"

namespace zelkor {
namespace {

constexpr double Tolerance = 1e-6;

bool Inside(const MapRect& inner, const MapRect& outer)
{
    return inner.x >= outer.x - Tolerance && inner.y >= outer.y - Tolerance &&
           inner.x + inner.width <= outer.x + outer.width + Tolerance &&
           inner.y + inner.height <= outer.y + outer.height + Tolerance;
}

bool Overlap(const MapRect& a, const MapRect& b)
{
    return std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x) > Tolerance &&
           std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y) > Tolerance;
}

double Aspect(const MapRect& r)
{
    return std::max(r.width / r.height, r.height / r.width);
}

TEST(SquarifiedTreemapTest, TilesTheBoundsInProportionToTheWeights)
{
    struct Case {
        std::vector<double> weights;
        MapRect bounds;
        double worstAspect;  // the layout's worst aspect ratio stays below this
    };
    std::vector<double> many;
    for (int i = 400; i > 0; --i)
        many.push_back(i * i);
    const std::vector<Case> cases = {
        {{1}, {10, 20, 300, 100}, 3.01},
        {{1, 1, 1, 1}, {0, 0, 100, 100}, 1.01},
        // The example of the paper that gave the layout its name.
        {{6, 6, 4, 3, 2, 2, 1}, {0, 0, 6, 4}, 2.8},
        {{1000, 1, 1}, {0, 0, 1200, 720}, 1001},
        {many, {0, 0, 1200, 720}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.weights.size()) + " weights");
        const std::vector<MapRect> rects = SquarifiedTreemap(c.weights, c.bounds);
        ASSERT_EQ(rects.size(), c.weights.size());
        double total = 0;
        for (const double weight : c.weights)
            total += weight;
        double area = 0;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            EXPECT_TRUE(Inside(rects[i], c.bounds)) << i;
            EXPECT_NEAR(rects[i].Area() / c.bounds.Area(), c.weights[i] / total, 1e-9) << i;
            EXPECT_LT(Aspect(rects[i]), c.worstAspect) << i;
            area += rects[i].Area();
            for (std::size_t j = 0; j < i; ++j)
                EXPECT_FALSE(Overlap(rects[i], rects[j])) << i << " and " << j;
        }
        EXPECT_NEAR(area, c.bounds.Area(), 1e-6 * c.bounds.Area());
    }
    // Four equal weights in a square are its four quarters.
    for (const MapRect& r : SquarifiedTreemap(std::vector<double>{1, 1, 1, 1}, {0, 0, 100, 100})) {
        EXPECT_NEAR(r.width, 50, Tolerance);
        EXPECT_NEAR(r.height, 50, Tolerance);
    }
    // Nothing to divide, or nothing to divide into: empty rectangles, no NaN.
    EXPECT_TRUE(SquarifiedTreemap({}, {0, 0, 10, 10}).empty());
    for (const MapRect& r : SquarifiedTreemap(std::vector<double>{2, 1}, {5, 5, 0, 10}))
        EXPECT_EQ(r.Area(), 0);
}

class SizeMapTest : public ::testing::Test {
protected:
    // The live file nodes by path, with their stored sizes.
    static std::map<std::string, std::uint64_t> Files(const SizeMap& map)
    {
        std::map<std::string, std::uint64_t> files;
        for (SizeMap::NodeId id = 1; id < map.NodeCapacity(); ++id) {
            if (map.At(id).live && !map.At(id).folder)
                files[map.Path(id)] = map.At(id).total.stored;
        }
        return files;
    }

    // Every node's sizes are what lies below it: its nodes and its folded files.
    static void ExpectConsistent(const SizeMap& map)
    {
        std::vector<SizeMap::Sizes> below(map.NodeCapacity());
        for (SizeMap::NodeId id = 1; id < map.NodeCapacity(); ++id) {
            if (map.At(id).live)
                below[map.At(id).parent].Add(map.At(id).total);
        }
        for (SizeMap::NodeId id = 0; id < map.NodeCapacity(); ++id) {
            const SizeMap::Node& node = map.At(id);
            if (!node.live || !node.folder)
                continue;
            below[id].Add(node.more);
            EXPECT_EQ(below[id].files, node.total.files) << map.Path(id);
            EXPECT_EQ(below[id].raw, node.total.raw) << map.Path(id);
            EXPECT_EQ(below[id].stored, node.total.stored) << map.Path(id);
        }
    }
};

TEST_F(SizeMapTest, FoldersAddUpWhatLiesInThem)
{
    SizeMap map(true);
    map.Add("textures/ui/button.png", 0, 900, 800);
    map.Add("textures\\logo.png", 0, 1000, 1000);
    map.Add("/levels//one.txt", 0, 3000, 1000);
    map.Add("levels/empty.txt", 0, 0, 0);
    map.Add("readme.txt", 0, 250, 200);
    map.Add("dir/", 0, 5, 5);
    EXPECT_EQ(Files(map), (std::map<std::string, std::uint64_t>{{"textures/ui/button.png", 800},
                                                                {"textures/logo.png", 1000},
                                                                {"levels/one.txt", 1000},
                                                                {"readme.txt", 200},
                                                                {"dir/", 5}}));
    const SizeMap::Node& top = map.At(SizeMap::Root);
    EXPECT_EQ(top.total.files, 6u);
    EXPECT_EQ(top.total.raw, 5155u);
    EXPECT_EQ(top.total.stored, 3005u);
    ExpectConsistent(map);
    // An empty file has no node: it is counted among its folder's other files.
    EXPECT_EQ(map.NodeCount(), 9u);  // the top, textures, ui, levels, and five files
}

TEST_F(SizeMapTest, WithoutNamesEveryEntryLiesAtTheTopByNameHash)
{
    SizeMap map(false);
    map.Add("", 0x0a0fed0c, 10, 5);
    map.Add("", 0x00000001, 20, 20);
    EXPECT_EQ(Files(map), (std::map<std::string, std::uint64_t>{{"0a0fed0c", 5}, {"00000001", 20}}));
}

TEST_F(SizeMapTest, DeepAndLongNamesAreBounded)
{
    SizeMap map(true);
    std::string deep;
    for (int i = 0; i < 40; ++i)
        deep.append("d").append(std::to_string(i)).append("/");
    map.Add(deep + "file", 0, 10, 10);
    const std::string longName(70000, 'x');
    map.Add(longName + "1/a", 0, 10, 10);
    map.Add(longName + "2/b", 0, 10, 10);
    ExpectConsistent(map);
    std::size_t deepest = 0;
    for (SizeMap::NodeId id = 1; id < map.NodeCapacity(); ++id) {
        if (!map.At(id).live)
            continue;
        EXPECT_LE(map.At(id).name.size(), SizeMap::NameLimit);
        std::size_t depth = 0;
        for (SizeMap::NodeId up = id; up != SizeMap::Root; up = map.At(up).parent)
            ++depth;
        deepest = std::max(deepest, depth);
    }
    // Sixteen folders, then the rest of the path as the file's name.
    EXPECT_EQ(deepest, SizeMap::DepthLimit + 1);
    EXPECT_EQ(Files(map).count("d0/d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/d11/d12/d13/d14/d15/" + deep.substr(deep.find("d16")) +
                               "file"),
              1u);
    // Two long folder names that share their first NameLimit bytes stay apart.
    EXPECT_EQ(map.NodeCount(), 1 + 17 + 2 + 2u);
}

TEST_F(SizeMapTest, ManyEntriesStayWithinTheBoundAndTheLargestKeepTheirPlace)
{
    // 200,000 files in 20,000 folders, with sizes from a fixed seed; a thousand
    // large ones among them, met anywhere.
    SizeMap map(true);
    std::mt19937 random(42);
    std::map<std::string, std::uint64_t> large;
    SizeMap::Sizes all;
    for (std::size_t i = 0; i < 200000; ++i) {
        std::string name = "f";
        name.append(std::to_string(random() % 20000)).append("/g").append(std::to_string(i % 7));
        name.append("/").append(std::to_string(i)).append(".bin");
        const bool big = i % 200 == 17;
        const std::uint64_t stored = big ? 1000000 + i : random() % 5000;
        const std::uint64_t raw = stored + random() % 100;
        if (big)
            large[name] = stored;
        all.Add({1, raw, stored});
        map.Add(name, 0, raw, stored);
        ASSERT_LE(map.NodeCount(), SizeMap::NodeLimit);
    }
    const SizeMap::Node& top = map.At(SizeMap::Root);
    EXPECT_EQ(top.total.files, all.files);
    EXPECT_EQ(top.total.raw, all.raw);
    EXPECT_EQ(top.total.stored, all.stored);
    ExpectConsistent(map);
    const std::map<std::string, std::uint64_t> kept = Files(map);
    for (const auto& [name, stored] : large)
        EXPECT_EQ(kept.count(name), 1u) << name;

    // Drawn: within the limit, each tile inside its folder's, and the files in
    // proportion to their stored sizes.
    const MapRect canvas{0, 0, 1200, 720};
    for (const std::size_t limit : {std::size_t{10000}, std::size_t{300}}) {
        const std::vector<SizeMap::Tile> tiles = map.Draw(canvas, limit);
        EXPECT_LE(tiles.size(), limit);
        EXPECT_GT(tiles.size(), std::min<std::size_t>(limit / 2, 1000));
        std::map<SizeMap::NodeId, std::size_t> folderTile;
        double fileArea = 0;
        std::uint64_t fileStored = 0;
        for (std::size_t i = 0; i < tiles.size(); ++i) {
            const SizeMap::Tile& tile = tiles[i];
            EXPECT_TRUE(Inside(tile.rect, canvas));
            if (tile.kind == SizeMap::Tile::Kind::Folder)
                folderTile[tile.node] = i;
            const SizeMap::NodeId folder = tile.kind == SizeMap::Tile::Kind::More ? tile.node : map.At(tile.node).parent;
            if (folder != SizeMap::Root && tile.kind != SizeMap::Tile::Kind::More) {
                ASSERT_EQ(folderTile.count(folder), 1u) << "a folder is drawn before its content";
                EXPECT_TRUE(Inside(tile.rect, tiles[folderTile[folder]].rect));
                EXPECT_FALSE(tiles[folderTile[folder]].whole);
            }
            // Only what is left over in a folder may be smaller.
            if (tile.kind != SizeMap::Tile::Kind::More) {
                EXPECT_GE(tile.rect.Area(), SizeMap::MinTileArea * 0.999) << i;
            }
            if (tile.kind == SizeMap::Tile::Kind::File && tile.depth == 0) {
                fileArea += tile.rect.Area();
                fileStored += tile.sizes.stored;
            }
        }
        if (fileStored > 0) {
            EXPECT_NEAR(fileArea / canvas.Area(), static_cast<double>(fileStored) / all.stored, 1e-9);
        }
    }
}

TEST_F(SizeMapTest, TheTileLimitHoldsWhenEveryFileWouldBeSeen)
{
    // 15,000 equal files at the top, each large enough to be seen on its own:
    // the limit keeps the largest (of equal ones, the first) and folds the rest,
    // which then make the largest tile.
    SizeMap map(false);
    for (std::uint32_t i = 0; i < 15000; ++i)
        map.Add("", i, 100, 100);
    const std::vector<SizeMap::Tile> tiles = map.Draw({0, 0, 1200, 720}, 10000);
    ASSERT_EQ(tiles.size(), 10000u);
    EXPECT_EQ(tiles.front().kind, SizeMap::Tile::Kind::More);
    EXPECT_EQ(tiles.front().sizes.files, 15000u - 9999);
    EXPECT_EQ(map.At(tiles[1].node).name, "00000000");
    EXPECT_EQ(map.At(tiles.back().node).name, Hex32(9998));
}

TEST_F(SizeMapTest, NothingStoredDrawsNothing)
{
    SizeMap map(true);
    EXPECT_TRUE(map.Draw({0, 0, 100, 100}, 100).empty());
    map.Add("a/empty", 0, 0, 0);
    EXPECT_TRUE(map.Draw({0, 0, 100, 100}, 100).empty());
}

}  // namespace
}  // namespace zelkor
