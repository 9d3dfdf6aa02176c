#include "report/size_map.h"

#include <algorithm>
#include <functional>
#include <queue>

#include "platform/hex.h"

namespace zelkor {

namespace {

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Whether the first name goes before the second among a folder's content:
// larger first, then the earlier made.
bool Before(const SizeMap::Node& a, const SizeMap::Node& b)
{
    return a.total.stored != b.total.stored ? a.total.stored > b.total.stored : a.order < b.order;
}

}  // namespace

SizeMap::SizeMap(bool withNames) : withNames_(withNames)
{
    nodes_.reserve(1024);
    nodes_.emplace_back();
    nodes_[Root].folder = true;
    nodes_[Root].live = true;
    live_ = 1;
}

void SizeMap::Add(std::string_view name, std::uint32_t nameHash, std::uint64_t raw, std::uint64_t stored)
{
    // Room for the deepest path first, so that no folder on it is folded while
    // the path is being made.
    if (live_ + DepthLimit + 1 > NodeLimit)
        Prune();

    NodeId folder = Root;
    std::string_view fileName = name;
    std::string hashName;
    if (!withNames_) {
        hashName = Hex32(nameHash);
        fileName = hashName;
    } else {
        std::size_t depth = 0;
        std::size_t at = 0;
        while (true) {
            while (at < name.size() && IsSeparator(name[at]))
                ++at;
            std::size_t end = at;
            while (end < name.size() && !IsSeparator(name[end]))
                ++end;
            std::size_t next = end;
            while (next < name.size() && IsSeparator(name[next]))
                ++next;
            // The last component, or everything below the deepest folder, is the
            // file; a name that ends in separators keeps them.
            if (next >= name.size() || depth == DepthLimit) {
                if (at < name.size())
                    fileName = name.substr(at);
                break;
            }
            folder = Folder(folder, name.substr(at, end - at));
            ++depth;
            at = next;
        }
    }

    const Sizes entry{1, raw, stored};
    for (NodeId up = folder;; up = nodes_[up].parent) {
        nodes_[up].total.Add(entry);
        if (up == Root)
            break;
    }
    if (stored == 0 || stored <= floor_) {
        nodes_[folder].more.Add(entry);
        return;
    }
    const NodeId file = Make(folder, fileName, false);
    nodes_[file].total = entry;
}

SizeMap::NodeId SizeMap::Folder(NodeId parent, std::string_view component)
{
    const bool cut = component.size() > NameLimit;
    const std::uint64_t nameHash = cut ? std::hash<std::string_view>{}(component) : 0;
    const std::string key = FolderKey(parent, component.substr(0, NameLimit), cut, nameHash);
    if (const auto found = folders_.find(key); found != folders_.end())
        return found->second;
    const NodeId id = Make(parent, component, true);
    nodes_[id].nameHash = nameHash;
    folders_.emplace(key, id);
    return id;
}

SizeMap::NodeId SizeMap::Make(NodeId parent, std::string_view name, bool folder)
{
    NodeId id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
        nodes_[id] = Node();
    } else {
        id = static_cast<NodeId>(nodes_.size());
        nodes_.emplace_back();
    }
    Node& node = nodes_[id];
    node.cut = name.size() > NameLimit;
    node.name.assign(name.substr(0, NameLimit));
    node.parent = parent;
    node.order = made_++;
    node.folder = folder;
    node.live = true;
    ++nodes_[parent].children;
    ++live_;
    return id;
}

std::string SizeMap::FolderKey(NodeId parent, std::string_view name, bool cut, std::uint64_t nameHash) const
{
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    key += name;
    if (cut)
        key.append(reinterpret_cast<const char*>(&nameHash), sizeof nameHash);
    return key;
}

void SizeMap::Prune()
{
    const std::size_t target = NodeLimit - NodeLimit / 4;
    std::vector<NodeId> leaves;
    while (live_ > target) {
        leaves.clear();
        for (NodeId id = 1; id < nodes_.size(); ++id) {
            const Node& node = nodes_[id];
            if (node.live && node.children == 0)
                leaves.push_back(id);
        }
        const std::size_t fold = std::min(leaves.size(), live_ - target);
        if (fold == 0)
            break;
        const auto smaller = [&](NodeId a, NodeId b) { return Before(nodes_[b], nodes_[a]); };
        std::nth_element(leaves.begin(), leaves.begin() + static_cast<std::ptrdiff_t>(fold - 1), leaves.end(),
                         smaller);
        for (std::size_t i = 0; i < fold; ++i)
            Fold(leaves[i]);
    }
}

void SizeMap::Fold(NodeId id)
{
    Node& node = nodes_[id];
    Node& parent = nodes_[node.parent];
    parent.more.Add(node.total);
    --parent.children;
    if (node.folder)
        folders_.erase(FolderKey(node.parent, node.name, node.cut, node.nameHash));
    else
        floor_ = std::max(floor_, node.total.stored);
    node = Node();
    free_.push_back(id);
    --live_;
}

std::string SizeMap::Path(NodeId id) const
{
    std::vector<NodeId> chain;
    for (NodeId up = id; up != Root; up = nodes_[up].parent)
        chain.push_back(up);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty())
            path += '/';
        path += nodes_[*it].name;
    }
    return path;
}

namespace {

// The room inside an open folder's tile: below its label band when the tile is
// large enough to carry one, otherwise inside a one-pixel border.
MapRect Inside(SizeMap::Tile& tile)
{
    const MapRect& outer = tile.rect;
    tile.labelBand = outer.width >= 48 && outer.height >= 3 * SizeMap::BandHeight;
    const double top = tile.labelBand ? SizeMap::BandHeight : 1;
    return {outer.x + 1, outer.y + top, outer.width - 2, outer.height - top - 1};
}

}  // namespace

std::vector<std::vector<SizeMap::NodeId>> SizeMap::Contents() const
{
    std::vector<std::vector<NodeId>> content(nodes_.size());
    for (NodeId id = 1; id < nodes_.size(); ++id) {
        if (nodes_[id].live)
            content[nodes_[id].parent].push_back(id);
    }
    for (std::vector<NodeId>& ids : content)
        std::sort(ids.begin(), ids.end(), [&](NodeId a, NodeId b) { return Before(nodes_[a], nodes_[b]); });
    return content;
}

SizeMap::Sizes SizeMap::Choose(NodeId folder, const std::vector<NodeId>& content, double scale, std::size_t room,
                               std::vector<Item>& items) const
{
    // What is too small to see joins the folder's own small files, and so
    // does what the tile limit leaves no room for.
    items.clear();
    Sizes more = nodes_[folder].more;
    for (const NodeId id : content) {
        const Node& child = nodes_[id];
        if (static_cast<double>(child.total.stored) * scale < MinTileArea || items.size() + 2 > room)
            more.Add(child.total);
        else
            items.push_back({id, child.total, false});
    }
    return more;
}

void SizeMap::Lay(const std::vector<Item>& items, const MapRect& inner, unsigned depth, std::vector<Tile>& tiles) const
{
    std::vector<double> weights;
    weights.reserve(items.size());
    for (const Item& item : items)
        weights.push_back(static_cast<double>(item.sizes.stored));
    const std::vector<MapRect> rects = SquarifiedTreemap(weights, inner);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Item& item = items[i];
        Tile tile;
        tile.rect = rects[i];
        tile.node = item.node;
        tile.sizes = item.sizes;
        tile.depth = depth;
        tile.kind = item.more ? Tile::Kind::More : nodes_[item.node].folder ? Tile::Kind::Folder : Tile::Kind::File;
        tiles.push_back(tile);
    }
}

std::vector<SizeMap::Tile> SizeMap::Draw(const MapRect& canvas, std::size_t tileLimit) const
{
    const std::vector<std::vector<NodeId>> content = Contents();
    std::vector<Tile> tiles;
    // Folders to open, the largest drawn first; -1 stands for the top folder,
    // which is the canvas itself.
    struct Open {
        double area;
        std::uint64_t order;
        std::ptrdiff_t tile;
    };
    const auto later = [](const Open& a, const Open& b) {
        return a.area != b.area ? a.area < b.area : a.order > b.order;
    };
    std::priority_queue<Open, std::vector<Open>, decltype(later)> pending(later);
    pending.push({canvas.Area(), 0, -1});

    std::vector<Item> items;
    while (!pending.empty()) {
        const Open next = pending.top();
        pending.pop();
        // The tile being opened, until new tiles are laid after it.
        Tile* opened = next.tile < 0 ? nullptr : &tiles[static_cast<std::size_t>(next.tile)];
        const NodeId folder = opened ? opened->node : Root;
        const unsigned depth = opened ? opened->depth + 1 : 0;
        const MapRect inner = opened ? Inside(*opened) : canvas;
        const Node& node = nodes_[folder];
        if (inner.width <= 0 || inner.height <= 0 || node.total.stored == 0) {
            if (opened)
                opened->whole = true;
            continue;
        }
        const double scale = inner.Area() / static_cast<double>(node.total.stored);
        const std::size_t room = tileLimit - std::min(tileLimit, tiles.size());
        const Sizes more = Choose(folder, content[folder], scale, room, items);
        if (room < 2 || (items.empty() && opened)) {
            if (opened)
                opened->whole = true;
            continue;
        }
        if (more.stored > 0) {
            // The content is sorted by size; the folded files go in their place.
            const Item folded{folder, more, true};
            const auto at = std::find_if(items.begin(), items.end(),
                                         [&](const Item& item) { return item.sizes.stored < more.stored; });
            items.insert(at, folded);
        }
        const std::size_t first = tiles.size();
        Lay(items, inner, depth, tiles);
        for (std::size_t i = first; i < tiles.size(); ++i) {
            if (tiles[i].kind == Tile::Kind::Folder)
                pending.push({tiles[i].rect.Area(), nodes_[tiles[i].node].order, static_cast<std::ptrdiff_t>(i)});
        }
    }
    return tiles;
}

}  // namespace zelkor
