// Inline images (bmp, icon, ilst), table backgrounds and the image file rule.
#include <algorithm>
#include <system_error>

#include "CHtmlDrawer.h"
#include "HtmlScanner.h"

namespace orvane {

using namespace htmllimits;

namespace {

int Scaled(int natural, int value, bool percent) {
    int v = percent ? MulDiv(natural, std::min(value, kMaxPercent), 100) : value;
    return std::clamp(v, 0, kMaxImageSide);
}

}  // namespace

void CHtmlDrawer::SetImageShadow() {
    shadowDx_ = 4;
    shadowDy_ = 4;
    blurX_ = 7;
    blurY_ = 7;
    darkness_ = 50;
    gradientShadow_ = true;
    const unsigned c = static_cast<unsigned>(MulDiv(255, darkness_, 100));
    shadowColor_ = MakeColorref(c, c, c);
}

unsigned CHtmlDrawer::ParseImageStyle(const std::u16string& value) const {
    unsigned style = 0;
    for (char16_t c : value) {
        if (c == u'g')
            style |= ImageGrey;
        else if (c == u'd')
            style |= ImageDarker;
        else if (c == u'l')
            style |= ImageLighter;
        else if (c == u's' && (shadowDx_ || shadowDy_))
            style |= gradientShadow_ ? ImageBlurredShadow : ImageShadow;
    }
    return style;
}

void CHtmlDrawer::ParseImageAttributes(const std::u16string& attrs, HtmlImageAttributes& image) {
    size_t pos = 0;
    std::u16string name;
    while (pos < attrs.size()) {
        std::u16string value = HtmlScanner::ReadAttribute(attrs, pos, name);
        if (name.empty()) break;
        const bool percent = !value.empty() && value.back() == u'%';
        if (name == u"index")
            image.index = ParseLength(value, image.index, false);
        else if (name == u"idres")
            image.idres = ParseLength(value, image.idres, false);
        else if (name == u"iddll")
            image.iddll = ParseLength(value, image.iddll, false);
        else if (name == u"handle")
            image.handle = ParseLength(value, image.handle, false);
        else if (name == u"cx")
            image.cx = ParseLength(value, image.cx, false);
        else if (name == u"cy")
            image.cy = ParseLength(value, image.cy, false);
        else if (name == u"speed")
            image.speed = ParseLength(value, image.speed, false);
        else if (name == u"width") {
            image.width = ParseLength(value, image.width, false);
            image.widthPercent = percent;
        } else if (name == u"height") {
            image.height = ParseLength(value, image.height, false);
            image.heightPercent = percent;
        } else if (name == u"file")
            image.file = HtmlScanner::GetStringValue(value, image.file);
        else if (name == u"srcdll")
            image.srcdll = HtmlScanner::GetStringValue(value, image.srcdll);
        else if (name == u"mask") {
            image.maskColor = ParseColor(value, image.maskColor);
            image.useMask = true;
        } else if (name == u"style")
            image.style = image.hotStyle = ParseImageStyle(value);
        else if (name == u"hotstyle")
            image.hotStyle = ParseImageStyle(value);
    }
}

std::shared_ptr<const HtmlImage> CHtmlDrawer::CachedImage(
    const std::function<std::shared_ptr<const HtmlImage>()>& load) {
    // Loaded once by the measuring pass; drawing passes take the same image
    // (or none) by position, so both passes see the same sizes.
    ++imageCounter_;
    if (measuring_) {
        if (imageCounter_ >= kMaxImages) return nullptr;
        std::shared_ptr<const HtmlImage> image = resources_ ? load() : nullptr;
        images_.push_back(image);
        return image;
    }
    return static_cast<size_t>(imageCounter_) < images_.size() ? images_[imageCounter_] : nullptr;
}

std::shared_ptr<const HtmlImage> CHtmlDrawer::LoadBitmap(const HtmlImageAttributes& image) {
    // Libraries and raw handles named by the text are never used.
    if (image.idres) return resources_->Bitmap(image.idres);
    if (!image.file.empty()) {
        std::filesystem::path file = ResolveImageFile(imageFolder_, image.file);
        return file.empty() ? nullptr : resources_->FileBitmap(file);
    }
    return nullptr;
}

void CHtmlDrawer::DrawImageTag(HtmlTagId id, const std::u16string& attrs, Position& pos) {
    HtmlImageAttributes a;
    ParseImageAttributes(attrs, a);
    const bool shadow = ((a.style | a.hotStyle) & (ImageShadow | ImageBlurredShadow)) != 0;
    std::shared_ptr<const HtmlImage> image;
    HtmlRect source;
    int w = 0;
    int h = 0;
    bool alignByBox = false;
    bool useMask = a.useMask;

    if (id == TagBitmap) {
        image = CachedImage([&] { return LoadBitmap(a); });
        if (!image) return;
        HtmlSize natural = image->Size();
        source = {0, 0, natural.cx, natural.cy};
        w = Scaled(natural.cx, a.width, a.widthPercent);
        h = Scaled(natural.cy, a.height, a.heightPercent);
    } else if (id == TagIcon) {
        HtmlSize system = resources_ ? resources_->IconSize() : HtmlSize{32, 32};
        int rw = Scaled(system.cx, a.width, a.widthPercent);
        int rh = Scaled(system.cy, a.height, a.heightPercent);
        image = CachedImage([&]() -> std::shared_ptr<const HtmlImage> {
            if (a.idres) return resources_->Icon(a.idres, rw, rh);
            if (!a.file.empty()) {
                std::filesystem::path file = ResolveImageFile(imageFolder_, a.file);
                return file.empty() ? nullptr : resources_->FileIcon(file, rw, rh);
            }
            return nullptr;
        });
        if (!image) return;
        HtmlSize own = image->Size();
        source = {0, 0, own.cx, own.cy};
        w = std::clamp(own.cx, 0, kMaxImageSide);
        h = std::clamp(own.cy, 0, kMaxImageSide);
        useMask = false;
    } else if (!a.idres && !a.iddll && !a.handle && a.file.empty()) {
        if (!resources_ || a.index >= resources_->ImageListCount()) return;
        image = CachedImage([&] { return resources_->ImageListIcon(a.index); });
        if (!image) return;
        HtmlSize natural = image->Size();
        HtmlSize list = resources_->ImageListIconSize();
        source = {0, 0, natural.cx, natural.cy};
        w = Scaled(list.cx, a.width, a.widthPercent);
        h = Scaled(list.cy, a.height, a.heightPercent);
        alignByBox = true;
        useMask = false;
    } else {
        image = CachedImage([&] { return LoadBitmap(a); });
        if (!image) return;
        HtmlSize strip = image->Size();
        int frameW, frameH;
        if (a.cx) {
            frameW = a.cx;
            frameH = a.cy ? a.cy : a.cx;
        } else {
            frameW = frameH = a.cy ? a.cy : std::min(strip.cx, strip.cy);
        }
        // A frame size of 0 gives no frames rather than a division by zero.
        const int64_t columns = frameW > 0 ? strip.cx / frameW : 0;
        const int64_t rows = frameH > 0 ? strip.cy / frameH : 0;
        const int frames = Clamp64(columns * rows, 0, kMaxLength);
        int index = a.index;
        if (a.speed) {
            if (measuring_) {
                iconLists_.push_back(IconListState{index, frames, 0, a.speed});
            } else {
                ++iconListCounter_;
                if (static_cast<size_t>(iconListCounter_) < iconLists_.size())
                    index = iconLists_[iconListCounter_].currentFrame;
            }
        }
        if (index >= frames || columns == 0 || rows == 0) return;
        source.left = static_cast<int>(index % columns) * frameW;
        source.top = static_cast<int>(index / columns) * frameH;
        source.right = source.left + frameW;
        source.bottom = source.top + frameH;
        w = Scaled(frameW, a.width, a.widthPercent);
        h = Scaled(frameH, a.height, a.heightPercent);
        alignByBox = true;
    }

    int boxW = w;
    int boxH = h;
    if (shadow && w && h) {
        boxW += shadowDx_;
        boxH += shadowDy_;
    }
    if (measuring_)
        line_.horzAlign = style_.horzAlign;
    else
        remaining_ -= boxW;
    const int64_t y = VerticalAlignImage(pos.y, alignByBox ? boxH : h);
    if (!measuring_ && w && h) {
        StoreLinkArea(pos.x, y, pos.x + boxW, y + boxH);
        HtmlImagePaint paint;
        paint.style = style_.linkKind && linkCounter_ == hoveredLink_ ? a.hotStyle : a.style;
        paint.useMask = useMask;
        paint.maskColor = a.maskColor;
        paint.shadow = shadow;
        paint.shadowDx = shadowDx_;
        paint.shadowDy = shadowDy_;
        paint.blurX = blurX_;
        paint.blurY = blurY_;
        paint.effectColor = shadowColor_;
        canvas_->DrawImage(*image, source, Clamp64(pos.x, -kMaxCoord, kMaxCoord), Clamp64(y, -kMaxCoord, kMaxCoord),
                           w, h, paint);
    }
    pos.x = std::clamp<int64_t>(pos.x + boxW, -kMaxCoord, kMaxCoord);
}

void CHtmlDrawer::DrawBackgroundImage(const HtmlRect& rect, const std::u16string& value) {
    if (value.size() < 6 || !resources_ || !canvas_) return;
    size_t pos = 0;
    HtmlScanner::SkipToToken(value, pos);
    const size_t start = pos;
    if (!HtmlScanner::FindOneOf(value, pos, u" :")) return;
    const std::u16string name = value.substr(start, pos - start);
    const std::u16string argument = HtmlScanner::ReadPropertyValue(value, pos, u";");
    std::shared_ptr<const HtmlImage> image;
    auto cached = backgrounds_.find(value);
    if (cached != backgrounds_.end()) {
        image = cached->second;
    } else {
        if (name == u"idres") {
            image = resources_->Bitmap(ParseLength(argument, 0, false));
        } else if (name == u"file") {
            std::filesystem::path file = ResolveImageFile(imageFolder_, argument);
            if (!file.empty()) image = resources_->FileBitmap(file);
        }
        if (backgrounds_.size() < 64) backgrounds_[value] = image;
    }
    if (!image) return;
    HtmlSize size = image->Size();
    if (size.cx <= 0 || size.cy <= 0) return;
    canvas_->TileImage(*image, rect);
}

int CHtmlDrawer::ParseBackgroundEffect(const std::u16string& value, int current) {
    static constexpr const char16_t* kEffects[] = {
        u"transparent", u"solid", u"hgradient", u"vgradient", u"hcgradient", u"vcgradient",
        u"3hgradient", u"3vgradient", u"noise", u"diagshade", u"hshade", u"vshade",
        u"hbump", u"vbump", u"softbump", u"hardbump", u"metal",
    };
    if (value.empty()) return current;
    for (int i = 0; i < static_cast<int>(std::size(kEffects)); ++i)
        if (value == kEffects[i]) return i - 1;
    return ParseLength(value, current, false);
}

std::filesystem::path CHtmlDrawer::ResolveImageFile(const std::filesystem::path& folder, const std::u16string& value) {
    namespace fs = std::filesystem;
    if (folder.empty() || value.empty()) return {};
    std::u16string relative = value;
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    fs::path rel(relative);
    if (rel.is_absolute() || rel.has_root_name() || rel.has_root_directory()) return {};
    for (const fs::path& part : rel)
        if (part == "..") return {};
    std::error_code ec;
    fs::path root = fs::canonical(folder, ec);
    if (ec) return {};
    fs::path file = fs::canonical(root / rel, ec);
    if (ec || !fs::is_regular_file(file, ec)) return {};
    // Links inside the folder must not lead out of it.
    auto [rootEnd, fileIt] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (rootEnd != root.end()) return {};
    return file;
}

}  // namespace orvane
