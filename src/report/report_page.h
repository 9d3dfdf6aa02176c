#pragma once

#include <cstddef>
#include <string>

#include "report/report_contents.h"

namespace zelkor {

// The HTML page of a report: totals, the size map (inline SVG), and the tables
// by extension, of the largest entries and of large files stored raw. The page
// is self-contained and static: no script, no font, image or style from
// elsewhere (its content security policy forbids any), and readable in any
// browser with scripting off. Every name goes through HtmlName.
//
// Its size is bounded whatever the archive: at most TileLimit rectangles with
// titles of at most TitleNameLimit bytes of name, and tables of bounded length,
// which keeps it under 5 MB.
class ReportPage {
public:
    static constexpr std::size_t TileLimit = 10000;
    static constexpr std::size_t TitleNameLimit = 160;
    static constexpr std::size_t TableNameLimit = 600;
    static constexpr std::size_t ExtensionRows = 50;
    static constexpr double MapWidth = 1200;
    static constexpr double MapHeight = 720;

    struct Drawn {
        std::size_t tiles = 0;
    };

    static std::string Render(const ReportContents& contents, Drawn& drawn);
};

}  // namespace zelkor
