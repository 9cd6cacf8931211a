// The preview page's files, compiled into the command from cli/preview/.
#ifndef VANTREL_CLI_PREVIEW_ASSETS_H
#define VANTREL_CLI_PREVIEW_ASSETS_H

#include <cstddef>

namespace vantrel::cli {

struct PreviewAsset {
  const char* name;  // "index.html", "app.js", "style.css"
  const char* type;  // its Content-Type
  const unsigned char* data;
  std::size_t size;
};

extern const PreviewAsset kPreviewAssets[];
extern const std::size_t kPreviewAssetCount;

}  // namespace vantrel::cli

#endif  // VANTREL_CLI_PREVIEW_ASSETS_H
