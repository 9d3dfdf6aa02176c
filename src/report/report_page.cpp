#include "report/report_page.h"

#include <cmath>
#include <cstdio>

#include "platform/hex.h"
#include "report/html_text.h"
#include "report/page_numbers.h"

namespace zelkor {

namespace {

using namespace page_numbers;
using Sizes = SizeMap::Sizes;
using Tile = SizeMap::Tile;

// The colour classes of the map, by stored / raw. Integer comparisons, so that
// a boundary falls on the same side every time.
struct RatioClass {
    const char* colour;
    const char* meaning;
};
constexpr RatioClass RatioClasses[] = {
    {"#1a9850", "under 25%: compresses very well"},
    {"#91cf60", "25 to 50%"},
    {"#d9ef8b", "50 to 75%"},
    {"#fee08b", "75 to 90%"},
    {"#fc8d59", "90 to 100%: LZ4 barely helps"},
    {"#d73027", "stored raw: LZ4 could not shrink it"},
};

int RatioClassOf(const Sizes& sizes)
{
    const std::uint64_t s = sizes.stored;
    const std::uint64_t r = sizes.raw;
    if (4 * s < r)
        return 0;
    if (2 * s < r)
        return 1;
    if (4 * s < 3 * r)
        return 2;
    if (10 * s < 9 * r)
        return 3;
    if (s < r)
        return 4;
    return 5;
}

// Dark colours take white text.
bool DarkClass(int ratioClass)
{
    return ratioClass == 0 || ratioClass == 5;
}

class Page {
public:
    explicit Page(const ReportContents& contents) : contents_(contents)
    {
    }

    std::string Render(ReportPage::Drawn& drawn)
    {
        Head();
        Totals();
        Map(drawn);
        Extensions();
        Largest();
        Incompressible();
        out_ += "<footer>Written by zelkor-inspect " ZELKOR_VERSION
                ". This page loads nothing and runs no script.</footer>\n</body>\n</html>\n";
        return std::move(out_);
    }

private:
    // The name of a listed entry, or without names its name hash.
    std::string Name(const ReportContents::Listed& listed, std::size_t limit) const
    {
        return contents_.hasNames ? HtmlName(listed.name, limit) : Hex32(listed.nameHash);
    }

    void Head()
    {
        const std::string& path = contents_.archivePath;
        const std::size_t slash = path.find_last_of('/');
        const std::string title = HtmlName(slash == std::string::npos ? path : path.substr(slash + 1), 200);
        out_ += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
                "'unsafe-inline'\">\n"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                "<title>What takes space in " + title + "</title>\n<style>\n"
                "body{font:14px/1.45 system-ui,sans-serif;color:#1f2328;background:#fff;max-width:1200px;"
                "margin:20px auto;padding:0 16px}\n"
                "h1{font-size:22px;margin:0 0 2px}h2{font-size:17px;margin:26px 0 6px}\n"
                "p{margin:4px 0 8px}.files{color:#57606a}\n"
                "table{border-collapse:collapse}th,td{padding:2px 10px;border-bottom:1px solid #d8dee4;"
                "text-align:left;vertical-align:top}\n"
                "thead th{border-bottom:2px solid #8c959f}.n{text-align:right;white-space:nowrap;"
                "font-variant-numeric:tabular-nums}\n"
                ".name{word-break:break-all}.hash{font-family:monospace}#totals th{font-weight:normal}\n"
                ".note{background:#fff8c5;border:1px solid #d4a72c;border-radius:4px;padding:6px 10px}\n"
                ".legend{list-style:none;padding:0;margin:6px 0;display:flex;flex-wrap:wrap;gap:4px 18px}\n"
                ".swatch{display:inline-block;width:12px;height:12px;margin-right:5px;vertical-align:-1px;"
                "border:1px solid #8c959f}\n"
                "svg.map{display:block;width:100%;height:auto;background:#eaeef2}\n"
                ".map rect{stroke:#fff;stroke-width:.5}.map .d0{fill:#3b4350}.map .d1{fill:#545f70}"
                ".map .m{fill-opacity:.7}\n"
                ".map text{font:11px sans-serif;fill:#1f2328}.map text.w{fill:#fff}\n";
        for (std::size_t i = 0; i < std::size(RatioClasses); ++i) {
            const std::string name = 'r' + std::to_string(i);
            out_ += ".map ." + name + "{fill:" + RatioClasses[i].colour + "}.swatch." + name +
                    "{background:" + RatioClasses[i].colour + "}\n";
        }
        out_ += "</style>\n</head>\n<body>\n<h1>What takes space in " + title + "</h1>\n<p class=\"files\">" +
                HtmlName(path, 1000) + ", " + HtmlName(contents_.keyFileSummary, 1000) + ": " +
                HtmlEscape(contents_.entries) + "</p>\n";
        if (!contents_.hasNames)
            out_ += "<p class=\"note\" id=\"names-unknown\">Names are unknown: the archive was read without a "
                    "key file, which holds them. Entries are shown by name hash, the map is flat, and there "
                    "is no table by extension. Name the key file with --key FILE to see the folders.</p>\n";
    }

    void Totals()
    {
        const Sizes& totals = contents_.totals;
        out_ += "<h2>Totals</h2>\n<table id=\"totals\">\n";
        const auto row = [&](const char* key, const char* label, const std::string& cell) {
            out_ += std::string("<tr data-key=\"") + key + "\"><th>" + label + "</th>" + cell + "</tr>\n";
        };
        row("entries", "entries", NumberCell(std::to_string(totals.files), Count(totals.files)));
        row("rawBytes", "raw", BytesCell(totals.raw));
        row("storedBytes", "stored", BytesCell(totals.stored));
        row("ratio", "stored / raw", RatioCell(totals.stored, totals.raw));
        row("storedRaw", "entries stored raw (LZ4 could not shrink them)",
            NumberCell(std::to_string(contents_.storedRaw), Count(contents_.storedRaw)));
        row("sharedNameHashes", "shared name hashes (see verify)",
            NumberCell(std::to_string(contents_.sharedNameHashes),
                       Count(contents_.sharedNameHashes) + (contents_.sharedNameHashes == 0
                                                                ? std::string()
                                                                : ", held by " + Count(contents_.sharingEntries) +
                                                                      " entries")));
        out_ += "</table>\n";
    }

    void Map(ReportPage::Drawn& drawn)
    {
        out_ += "<h2>Size map</h2>\n<p>Each rectangle is a file, its area its stored size, inside the "
                "rectangles of its folders; a folder's small files are drawn together as one paler "
                "rectangle. Colour tells stored / raw:</p>\n<ul class=\"legend\">\n";
        for (std::size_t i = 0; i < std::size(RatioClasses); ++i)
            out_ += "<li><span class=\"swatch r" + std::to_string(i) + "\"></span>" + RatioClasses[i].meaning +
                    "</li>\n";
        out_ += "</ul>\n";
        const std::vector<Tile> tiles =
            contents_.map.Draw({0, 0, ReportPage::MapWidth, ReportPage::MapHeight}, ReportPage::TileLimit);
        drawn.tiles = tiles.size();
        if (tiles.empty()) {
            out_ += "<p id=\"map-empty\">Nothing to draw: no selected entry stores a byte.</p>\n";
            return;
        }
        out_ += "<svg class=\"map\" viewBox=\"0 0 " + Format("%.0f", ReportPage::MapWidth) + " " +
                Format("%.0f", ReportPage::MapHeight) + "\" width=\"" + Format("%.0f", ReportPage::MapWidth) +
                "\" height=\"" + Format("%.0f", ReportPage::MapHeight) +
                "\" role=\"img\" aria-label=\"size map\">\n";
        for (const Tile& tile : tiles)
            DrawTile(tile);
        out_ += "</svg>\n";
    }

    void DrawTile(const Tile& tile)
    {
        const SizeMap& map = contents_.map;
        const bool open = tile.kind == Tile::Kind::Folder && !tile.whole;
        const int ratioClass = RatioClassOf(tile.sizes);
        std::string classes;
        std::string label;
        std::string title;
        const std::string path = map.Path(tile.node);
        switch (tile.kind) {
        case Tile::Kind::File:
            classes = "f r" + std::to_string(ratioClass);
            label = map.At(tile.node).name;
            title = HtmlName(path, ReportPage::TitleNameLimit);
            break;
        case Tile::Kind::Folder:
            classes = open ? "d" + std::to_string(tile.depth % 2) : "w r" + std::to_string(ratioClass);
            label = map.At(tile.node).name + "/";
            title = HtmlName(path + "/", ReportPage::TitleNameLimit) + " " + Files(tile.sizes.files);
            break;
        case Tile::Kind::More:
            classes = "m r" + std::to_string(ratioClass);
            label = Count(tile.sizes.files) + " more";
            title = (tile.node == SizeMap::Root ? std::string("at the top:")
                                                : HtmlName(path + "/", ReportPage::TitleNameLimit)) +
                    " " + Count(tile.sizes.files) + " more " + (tile.sizes.files == 1 ? "file" : "files");
            break;
        }
        const MapRect& r = tile.rect;
        out_ += "<rect x=\"" + Format("%.1f", r.x) + "\" y=\"" + Format("%.1f", r.y) + "\" width=\"" +
                Format("%.1f", r.width) + "\" height=\"" + Format("%.1f", r.height) + "\" class=\"" + classes +
                "\"><title>" + title + ", " + Bytes(tile.sizes.raw) + " raw, " + Bytes(tile.sizes.stored) +
                " stored (" + Percent(tile.sizes.stored, tile.sizes.raw) + ")</title></rect>\n";

        // A name where there is room for a few characters of it.
        const bool band = open && tile.labelBand;
        if ((open && !band) || r.width < 40 || r.height < 15)
            return;
        // Cut short to a few letters, a name says nothing.
        const std::size_t room = static_cast<std::size_t>((r.width - 6) / 6.5);
        if (room < label.size() && room < 8)
            return;
        out_ += "<text x=\"" + Format("%.1f", r.x + 3) + "\" y=\"" + Format("%.1f", r.y + 11) + "\"" +
                (open || DarkClass(ratioClass) ? " class=\"w\"" : "") + ">" + HtmlName(label, room) +
                "</text>\n";
    }

    void Extensions()
    {
        out_ += "<h2>By extension</h2>\n";
        if (!contents_.hasNames) {
            out_ += "<p>Unknown without names.</p>\n";
            return;
        }
        const std::uint64_t whole = contents_.totals.stored;
        out_ += "<table id=\"extensions\">\n<thead><tr><th>extension</th><th class=\"n\">files</th>"
                "<th class=\"n\">raw</th><th class=\"n\">stored</th><th class=\"n\">stored / raw</th>"
                "<th class=\"n\">share of stored</th></tr></thead>\n<tbody>\n";
        const auto row = [&](const std::string& key, const std::string& label, const Sizes& sizes) {
            out_ += "<tr data-key=\"" + key + "\"><td>" + label + "</td>" +
                    NumberCell(std::to_string(sizes.files), Count(sizes.files)) + BytesCell(sizes.raw) +
                    BytesCell(sizes.stored) + RatioCell(sizes.stored, sizes.raw) +
                    NumberCell(Format("%.6f", Ratio(sizes.stored, whole)), Percent(sizes.stored, whole)) +
                    "</tr>\n";
        };
        Sizes others = contents_.otherExtensions;
        std::size_t otherCount = 0;
        for (std::size_t i = 0; i < contents_.extensions.size(); ++i) {
            const auto& [extension, sizes] = contents_.extensions[i];
            if (i < ReportPage::ExtensionRows) {
                const std::string shown = HtmlName(extension, 100);
                row("." + shown, extension.empty() ? "<i>none</i>" : "." + shown, sizes);
            } else {
                others.Add(sizes);
                ++otherCount;
            }
        }
        if (others.files > 0)
            row("*", otherCount > 0 ? "<i>" + Count(otherCount) + " more extensions</i>" : "<i>more extensions</i>",
                others);
        out_ += "</tbody>\n</table>\n";
    }

    void Largest()
    {
        out_ += "<h2>The " + std::to_string(ReportContents::LargestCount) + " largest entries</h2>\n";
        if (contents_.largest.empty()) {
            out_ += "<p>No entry is selected.</p>\n";
            return;
        }
        out_ += "<table id=\"largest\">\n<thead><tr><th class=\"n\">entry</th><th>" +
                std::string(contents_.hasNames ? "name" : "name hash") +
                "</th><th class=\"n\">raw</th><th class=\"n\">stored</th><th class=\"n\">stored / raw</th>"
                "<th>method</th></tr></thead>\n<tbody>\n";
        for (const ReportContents::Listed& listed : contents_.largest)
            out_ += "<tr>" + NumberCell(std::to_string(listed.index), std::to_string(listed.index)) + NameCell(listed) +
                    BytesCell(listed.raw) + BytesCell(listed.stored) + RatioCell(listed.stored, listed.raw) + "<td>" +
                    (listed.stored < listed.raw ? "lz4" : "raw") + "</td></tr>\n";
        out_ += "</tbody>\n</table>\n";
    }

    void Incompressible()
    {
        const Sizes& all = contents_.allIncompressible;
        out_ += "<h2>Over 64 KiB, and LZ4 could not shrink them</h2>\n";
        if (all.files == 0) {
            out_ += "<p id=\"incompressible-none\">None: no selected entry over 64 KiB is stored raw.</p>\n";
            return;
        }
        out_ += "<p>" + Files(all.files) + ", " + Bytes(all.stored) + " (" + Percent(all.stored, contents_.totals.stored) +
                " of the stored bytes): already compressed, or noise. Candidates to store pre-compressed, "
                "or to leave out.</p>\n<table id=\"incompressible\" data-files=\"" + std::to_string(all.files) +
                "\" data-bytes=\"" + std::to_string(all.stored) +
                "\">\n<thead><tr><th class=\"n\">entry</th><th>" + (contents_.hasNames ? "name" : "name hash") +
                "</th><th class=\"n\">size</th></tr></thead>\n<tbody>\n";
        Sizes rest = all;
        for (const ReportContents::Listed& listed : contents_.incompressible) {
            out_ += "<tr>" + NumberCell(std::to_string(listed.index), std::to_string(listed.index)) + NameCell(listed) +
                    BytesCell(listed.stored) + "</tr>\n";
            rest.files -= 1;
            rest.stored -= listed.stored;
        }
        if (rest.files > 0)
            out_ += "<tr data-key=\"*\"><td></td><td><i>" + Count(rest.files) + " more</i></td>" +
                    BytesCell(rest.stored) + "</tr>\n";
        out_ += "</tbody>\n</table>\n";
    }

    std::string NameCell(const ReportContents::Listed& listed) const
    {
        return std::string("<td class=\"") + (contents_.hasNames ? "name" : "hash") + "\">" +
               Name(listed, ReportPage::TableNameLimit) + "</td>";
    }

    const ReportContents& contents_;
    std::string out_;
};

}  // namespace

std::string ReportPage::Render(const ReportContents& contents, Drawn& drawn)
{
    return Page(contents).Render(drawn);
}

}  // namespace zelkor
