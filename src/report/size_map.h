#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "report/squarified_treemap.h"

namespace zelkor {

// The archived folders and their files by stored size, gathered entry by entry
// for the size map of a report, in memory that does not grow with the number
// of entries.
//
// Names are split into folders at "/" and "\" (empty components dropped). The
// tree holds at most NodeLimit nodes (folders and files) with names of at most
// NameLimit bytes, and folders DepthLimit deep; what it cannot hold is folded
// into the folder above as "more files", so that every byte is counted in every
// folder it lies in. When the tree is full, its smallest leaves (files, and
// folders whose files are all folded) are folded until a quarter of it is free,
// and later files no larger than a folded one are folded at once. A folder met
// again after it was folded starts afresh, which changes only how the map
// groups what is too small to see. Without names, every entry is a file at the
// top, named by its name hash.
//
// About 12 MiB at most for NodeLimit nodes with long names, 5 MiB for typical ones.
class SizeMap {
public:
    static constexpr std::size_t NodeLimit = 32768;
    static constexpr std::size_t DepthLimit = 16;
    static constexpr std::size_t NameLimit = 256;

    using NodeId = std::uint32_t;
    static constexpr NodeId Root = 0;

    struct Sizes {
        std::uint64_t files = 0;
        std::uint64_t raw = 0;
        std::uint64_t stored = 0;

        void Add(const Sizes& other)
        {
            files += other.files;
            raw += other.raw;
            stored += other.stored;
        }
    };

    struct Node {
        // A folder's own component or, for a file, its name below its folder; at
        // most NameLimit bytes, and then `cut`.
        std::string name;
        Sizes total;  // of everything below, for a file itself
        Sizes more;   // of a folder: what is below it without a node of its own
        NodeId parent = Root;
        std::uint32_t children = 0;  // nodes whose parent this is
        std::uint64_t order = 0;     // when it was made, to break ties alike every time
        std::uint64_t nameHash = 0;  // of a cut folder name: tells apart names cut alike
        bool folder = false;
        bool live = false;
        bool cut = false;
    };

    // `withNames`: entries come with their archived names.
    explicit SizeMap(bool withNames);

    void Add(std::string_view name, std::uint32_t nameHash, std::uint64_t raw, std::uint64_t stored);

    const Node& At(NodeId id) const { return nodes_[id]; }
    // Live nodes, the top folder included.
    std::size_t NodeCount() const { return live_; }
    std::size_t NodeCapacity() const { return nodes_.size(); }
    // The archived path of a node: its folders' names and its own, joined by "/".
    std::string Path(NodeId id) const;

    // One rectangle of the drawn map.
    struct Tile {
        enum class Kind {
            Folder,  // drawn with what lies in it on top, unless `whole`
            File,
            More,    // the files of a folder too small to draw one by one
        };
        Kind kind = Kind::File;
        MapRect rect;
        NodeId node = Root;  // the file, the folder, or the folder of the More tile
        Sizes sizes;
        unsigned depth = 0;  // 0 for what lies in the top folder
        bool whole = false;  // a folder drawn as one rectangle, its content unseen
        bool labelBand = false;  // a folder with room for its name above its content
    };

    // Tiles no smaller than this many square pixels; smaller ones are folded
    // into their folder's More tile.
    static constexpr double MinTileArea = 48;
    // Room for a folder's name above its content.
    static constexpr double BandHeight = 14;

    // Lays the tree out over `canvas`, folders before what lies in them, and
    // never more than `tileLimit` tiles: a folder whose content would pass the
    // limit is drawn whole. Folders are opened level by level, the largest first.
    std::vector<Tile> Draw(const MapRect& canvas, std::size_t tileLimit) const;

private:
    // One tile to lay in a folder: a child, or (`more`) what the folder's
    // small files and folded content come to.
    struct Item {
        NodeId node;
        Sizes sizes;
        bool more;
    };

    // Draw's steps: each folder's live content, largest first; which of a
    // folder's content gets tiles of its own at `scale` within `room` tiles
    // (into `items`), and what the rest comes to; the items laid in `inner`.
    std::vector<std::vector<NodeId>> Contents() const;
    Sizes Choose(NodeId folder, const std::vector<NodeId>& content, double scale, std::size_t room,
                 std::vector<Item>& items) const;
    void Lay(const std::vector<Item>& items, const MapRect& inner, unsigned depth, std::vector<Tile>& tiles) const;

    NodeId Folder(NodeId parent, std::string_view component);
    NodeId Make(NodeId parent, std::string_view name, bool folder);
    std::string FolderKey(NodeId parent, std::string_view name, bool cut, std::uint64_t nameHash) const;
    // Folds leaves into their folders until a quarter of NodeLimit is free.
    void Prune();
    void Fold(NodeId id);

    bool withNames_;
    std::vector<Node> nodes_;
    std::vector<NodeId> free_;
    std::unordered_map<std::string, NodeId> folders_;  // FolderKey -> folder
    std::size_t live_ = 0;
    std::uint64_t made_ = 0;
    std::uint64_t floor_ = 0;  // files this small or smaller are folded at once
};

}  // namespace zelkor
