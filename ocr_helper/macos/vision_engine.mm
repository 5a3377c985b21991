#import <Foundation/Foundation.h>
#import <Vision/Vision.h>

#include "imageio_image.h"
#include "ocr_engine.h"

namespace ocr_helper::macos_engine {

namespace {

VNRecognizeTextRequest* make_request() {
  VNRecognizeTextRequest* request = [[VNRecognizeTextRequest alloc] init];
  [request setRecognitionLevel:VNRequestTextRecognitionLevelAccurate];
  [request setUsesLanguageCorrection:YES];
  return request;
}

std::string to_std(NSString* text) {
  const char* utf8 = text.UTF8String;
  return utf8 != nullptr ? std::string(utf8) : std::string();
}

NSString* to_ns(const std::string& text) {
  NSString* converted = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
  return converted != nil ? converted : @"";
}

class VisionEngine final : public Engine {
 public:
  std::string name() override { return "Vision"; }

  bool can_list_languages() override {
    if (@available(macOS 12.0, *)) return true;
    return false;
  }

  LanguageQuery supported_languages() override {
    LanguageQuery query;
    if (@available(macOS 12.0, *)) {
      @autoreleasepool {
        NSError* error = nil;
        NSArray<NSString*>* languages = [make_request() supportedRecognitionLanguagesAndReturnError:&error];
        if (languages == nil) {
          query.error = to_std(error.localizedDescription);
          return query;
        }
        query.ok = true;
        for (NSString* language in languages) query.languages.push_back(to_std(language));
      }
    }
    return query;
  }

  bool supports_language_detection() override {
    const NSOperatingSystemVersion ventura = {13, 0, 0};
    return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:ventura];
  }

  std::optional<DecodedImage> decode(const std::string& path) override { return decode_image(path); }

  Recognition recognize(const DecodedImage& image, const RecognitionSettings& settings) override {
    Recognition recognition;
    @autoreleasepool {
      const auto& pixels = static_cast<const CGImageData&>(*image.data);
      VNRecognizeTextRequest* request = make_request();
      if (settings.automatic_detection) {
        if (@available(macOS 13.0, *)) [request setAutomaticallyDetectsLanguage:YES];
      } else {
        NSMutableArray<NSString*>* languages = [NSMutableArray array];
        for (const std::string& language : settings.languages) [languages addObject:to_ns(language)];
        [request setRecognitionLanguages:languages];
      }
      VNImageRequestHandler* handler =
          [[VNImageRequestHandler alloc] initWithCGImage:pixels.image
                                             orientation:static_cast<CGImagePropertyOrientation>(image.orientation)
                                                 options:@{}];
      NSError* error = nil;
      if (![handler performRequests:@[ request ] error:&error]) {
        recognition.error = to_std(error.localizedDescription);
        return recognition;
      }
      NSArray<VNRecognizedTextObservation*>* results = request.results;
      if (results == nil) return recognition;
      std::vector<Observation> observations;
      for (VNRecognizedTextObservation* found in results) {
        const CGRect box = found.boundingBox;
        Observation observation;
        observation.box = NormalRect{box.origin.x, box.origin.y, box.size.width, box.size.height};
        VNRecognizedText* best = [found topCandidates:1].firstObject;
        if (best != nil) observation.best_candidate = to_std(best.string);
        observations.push_back(std::move(observation));
      }
      recognition.results = std::move(observations);
    }
    return recognition;
  }
};

}  // namespace

}  // namespace ocr_helper::macos_engine

namespace ocr_helper {
std::unique_ptr<Engine> make_platform_engine() { return std::make_unique<macos_engine::VisionEngine>(); }
}  // namespace ocr_helper
