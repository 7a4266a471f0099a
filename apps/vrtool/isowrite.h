// ISO 9660 images of a folder, for CD and DVD media: a primary volume whose names are the code page 932
// bytes of the file names (letters upper-cased, files with ";1"), as Japanese discs carry them, and a
// Joliet volume with the names in UCS-2. Every byte follows from the folder: file times are the files'
// own, folders and volume descriptors carry one time the caller gives, so the same folder makes the
// same image.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vrtool {

// The image of `folder` (code page 932): its size in bytes is known before it is written. A ToolError
// for what an image cannot hold (a file of 4 GiB or more, a name too long for a directory record, two
// names one volume cannot tell apart, a link or special file), naming it.
class TIsoImage {
 public:
  // `label`: the volume label, up to 32 capital letters, digits and "_" (also the Joliet label, cut to
  // 16 characters). `time`: DOS date-time of the folders and the volume.
  TIsoImage(const std::string& folder, const std::string& label, uint32_t time);
  ~TIsoImage();
  TIsoImage(const TIsoImage&) = delete;
  TIsoImage& operator=(const TIsoImage&) = delete;

  int64_t Size() const;
  // Writes the image to `image` (code page 932), replacing it. Returns early, the image incomplete, when
  // `stopped` says so between pieces of the files.
  void Write(const std::string& image, const std::function<bool()>& stopped = nullptr) const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// True when `label` can be a volume label (1 to 32 of A-Z, 0-9 and "_").
bool IsVolumeLabel(const std::string& label);

}  // namespace vrtool
