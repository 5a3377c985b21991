#import <Foundation/Foundation.h>
#import <ImageIO/ImageIO.h>

#include "image_file.h"
#include "imageio_image.h"

namespace ocr_helper::macos_engine {

namespace {

std::uint32_t orientation_of(CGImageSourceRef source) {
  std::uint32_t orientation = 1;
  CFDictionaryRef properties = CGImageSourceCopyPropertiesAtIndex(source, 0, nullptr);
  if (properties == nullptr) return orientation;
  const void* value = CFDictionaryGetValue(properties, kCGImagePropertyOrientation);
  if (value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID()) {
    orientation = [(__bridge NSNumber*)value unsignedIntValue];
  }
  CFRelease(properties);
  return orientation;
}

}  // namespace

std::optional<DecodedImage> decode_image(const std::string& path) {
  @autoreleasepool {
    // An empty path names no file; NSURL would refuse to build a URL from it.
    if (path.empty() || !acceptable_image_file(path)) return std::nullopt;
    NSString* text = [[NSString alloc] initWithBytes:path.data() length:path.size() encoding:NSUTF8StringEncoding];
    if (text == nil) return std::nullopt;
    NSURL* url = [NSURL fileURLWithPath:text];
    CGImageSourceRef source = CGImageSourceCreateWithURL((__bridge CFURLRef)url, nullptr);
    if (source == nullptr) return std::nullopt;
    CGImageRef image = CGImageSourceCreateImageAtIndex(source, 0, nullptr);
    if (image == nullptr) {
      CFRelease(source);
      return std::nullopt;
    }
    DecodedImage decoded;
    decoded.orientation = orientation_of(source);
    decoded.data = std::make_unique<CGImageData>(image);
    CFRelease(source);
    return decoded;
  }
}

}  // namespace ocr_helper::macos_engine
