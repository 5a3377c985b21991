#include "leptonica_image.h"

#include <leptonica/allheaders.h>

#include <vector>

#include "exif_orientation.h"
#include "image_file.h"

namespace ocr_helper::linux_engine {

void PixDeleter::operator()(Pix* pix) const { pixDestroy(&pix); }

namespace {

// Keeps Leptonica's diagnostics off standard error: the decoding outcome is
// reported as JSON instead.
void silence_leptonica() {
  static const bool silenced = [] {
    setMsgSeverity(L_SEVERITY_NONE);
    return true;
  }();
  (void)silenced;
}

PixPtr oriented(Pix* pix, std::uint32_t orientation) {
  switch (orientation) {
    case 2:
      return PixPtr(pixFlipLR(nullptr, pix));
    case 3:
      return PixPtr(pixRotateOrth(pix, 2));
    case 4:
      return PixPtr(pixFlipTB(nullptr, pix));
    case 5: {  // transpose
      PixPtr turned(pixRotateOrth(pix, 1));
      return turned ? PixPtr(pixFlipLR(nullptr, turned.get())) : nullptr;
    }
    case 6:
      return PixPtr(pixRotateOrth(pix, 1));
    case 7: {  // transverse
      PixPtr turned(pixRotateOrth(pix, 1));
      return turned ? PixPtr(pixFlipTB(nullptr, turned.get())) : nullptr;
    }
    case 8:
      return PixPtr(pixRotateOrth(pix, 3));
    default:
      return PixPtr(pixCopy(nullptr, pix));
  }
}

}  // namespace

std::optional<DecodedImage> decode_image(const std::string& path) {
  silence_leptonica();
  const std::optional<std::vector<std::uint8_t>> bytes = read_image_file(path);
  if (!bytes || bytes->empty()) return std::nullopt;
  PixPtr pix(pixReadMem(bytes->data(), bytes->size()));
  if (!pix) return std::nullopt;
  DecodedImage image;
  const std::uint32_t tag = exif_orientation_tag(*bytes);
  image.orientation = tag == 0 ? 1 : tag;
  image.orientation_tagged = tag != 0;
  image.data = std::make_unique<LeptonicaImage>(std::move(pix));
  return image;
}

PixPtr upright_copy(Pix* pix, std::uint32_t orientation) {
  silence_leptonica();
  PixPtr current(pixCopy(nullptr, pix));
  if (current && pixGetSpp(current.get()) == 4) {
    // Transparent areas read as white paper rather than black.
    current.reset(pixAlphaBlendUniform(current.get(), 0xffffff00));
  }
  const l_int32 depth = current ? pixGetDepth(current.get()) : 0;
  if (current && (pixGetColormap(current.get()) != nullptr || (depth != 1 && depth != 8 && depth != 32))) {
    current.reset(pixConvertTo32(current.get()));
  }
  if (!current) return nullptr;
  return oriented(current.get(), orientation);
}

}  // namespace ocr_helper::linux_engine
