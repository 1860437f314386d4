// Where image and string tags get their data: the program's own resources
// and files under its own folder. Nothing here loads a library or takes a
// raw handle from the tip text.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "IHtmlCanvas.h"

namespace orvane {

class IHtmlResources {
public:
    virtual ~IHtmlResources() = default;
    // A bitmap of the program's resources by id; null when there is none.
    virtual std::shared_ptr<const HtmlImage> Bitmap(int id) = 0;
    // An icon of the program's resources at about cx by cy.
    virtual std::shared_ptr<const HtmlImage> Icon(int id, int cx, int cy) = 0;
    // A bitmap or icon file; the path is already checked to lie under the program's folder.
    virtual std::shared_ptr<const HtmlImage> FileBitmap(const std::filesystem::path& file) = 0;
    virtual std::shared_ptr<const HtmlImage> FileIcon(const std::filesystem::path& file, int cx, int cy) = 0;
    // A string of the program's string table; empty when there is none.
    virtual std::u16string String(int id) = 0;
    // The system's icon size.
    virtual HtmlSize IconSize() = 0;
    // The image list of icon-list tags that name only an index; none by default.
    virtual int ImageListCount() { return 0; }
    virtual HtmlSize ImageListIconSize() { return {}; }
    virtual std::shared_ptr<const HtmlImage> ImageListIcon(int index) { return nullptr; }
};

}  // namespace orvane
