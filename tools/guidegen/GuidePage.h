// The installer's guide: one Markdown source (CommonMark with tables) turned into one
// self-contained HTML page at build time. Every heading names its anchor,
// "## Title {#anchor}", so a link into the guide never moves when a title is reworded.
#pragma once

#include <functional>
#include <optional>
#include <string>

// Reads a picture named in the source (its path as written); nothing when it is missing.
using PictureReader = std::function<std::optional<std::string>(const std::string& path)>;

struct GuideResult {
    std::string html;
    std::string error; // empty on success: "line N: ..." otherwise
};

// The whole page. Pictures are embedded as data: URLs so the page is one file.
GuideResult MarkdownToHtml(const std::string& markdown, const PictureReader& readPicture);
