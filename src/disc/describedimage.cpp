#include "disc/describedimage.h"

#include <algorithm>

#include "platform/dbcspath.h"

namespace vr {
namespace {

constexpr int64_t kMaxStart = int64_t{1} << 31;  // sectors: far beyond any disc

std::string ReadDescription(TImageBytes& bytes) {
  if (bytes.Size() > kMaxDescriptionBytes)
    throw EDiscError("larger than " + std::to_string(kMaxDescriptionBytes >> 20) +
                     " MiB, not an image description");
  std::string text(static_cast<size_t>(bytes.Size()), '\0');
  if (!bytes.ReadAt(0, text.data(), text.size())) throw EDiscError("cannot be read");
  return text;
}

}  // namespace

std::string FileBesideDescription(TPlatform& platform, const std::string& description,
                                  const std::string& name) {
  const std::string folder = ExtractFilePath(description);
  const std::string relative = ReplaceDelimiters(name, '\\');
  if (!IsSafeRelativeName(relative))
    throw EDiscError(description + ": names a file outside its folder: " + name);
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && !IsPathDelimiterAt(relative, i)) continue;
    const TFileKind kind = platform.GetFileKind(folder + relative.substr(0, i));
    if (kind == TFileKind::Link) throw EDiscError(description + ": names a file through a link: " + name);
    if (i == relative.size() && kind == TFileKind::None)
      throw EDiscError(description + ": the file " + name + " it names is missing");
    if (i == relative.size() && kind != TFileKind::File)
      throw EDiscError(description + ": the file " + name + " it names is not a regular file");
  }
  return folder + relative;
}

size_t CheckDataTrack(TImageLayout& layout, int64_t dataFileSize, const std::string& shown) {
  std::vector<TDiscTrack>& tracks = layout.Tracks;
  if (tracks.empty()) throw EDiscError(shown + ": the image describes no track");
  if (tracks.size() > kMaxDescribedTracks)
    throw EDiscError(shown + ": more than " + std::to_string(kMaxDescribedTracks) + " tracks");
  size_t data = 0;
  while (data < tracks.size() && tracks[data].Mode == TTrackMode::tmAudio) ++data;
  if (data == tracks.size()) throw EDiscError(shown + ": the image has no data track");
  TDiscTrack& t = tracks[data];
  const int64_t sectorBytes = SectorSize(t.Mode) + t.SubchannelBytes;
  if (t.FileOffset < 0 || t.FileOffset > dataFileSize)
    throw EDiscError(shown + ": the data track starts past the end of its file (a truncated image?)");
  if (t.Start < 0 || t.Start > kMaxStart)
    throw EDiscError(shown + ": the data track's place on the disc is out of range");
  const int64_t held = (dataFileSize - t.FileOffset) / sectorBytes;
  if (t.Sectors < 0) {
    // Up to the next track of the file, else to the file's end.
    int64_t end = dataFileSize;
    for (const TDiscTrack& other : tracks)
      if (other.FileOffset > t.FileOffset) end = std::min(end, other.FileOffset);
    t.Sectors = (end - t.FileOffset) / sectorBytes;
  }
  if (t.Sectors > held)
    throw EDiscError(shown + ": its data file ends " + std::to_string(t.Sectors - held) +
                     " sectors before the data track does (a truncated image?)");
  return data;
}

std::unique_ptr<TDiscImage> OpenDescribedImage(TPlatform& platform, const std::string& path) {
  const std::string ext = LowerCaseAscii(ExtractFileExt(path));
  if (ext != ".mds" && ext != ".ccd" && ext != ".nrg") return nullptr;
  std::unique_ptr<TImageBytes> described = OpenImageBytes(platform, path);
  TImageLayout layout;
  try {
    if (ext == ".nrg") {
      layout = ReadNrgLayout(*described);
    } else {
      const std::string text = ReadDescription(*described);
      const std::string name = ExtractFileName(path);
      layout = ext == ".mds" ? ParseMds(text, name) : ParseCcd(text, name);
    }
  } catch (const EDiscError& e) {
    throw EDiscError(path + ": " + e.Message);
  }
  if (ext != ".nrg") {
    // Tools of the time wrote "GAME.MDF" beside "GAME.MDS" as readily as "game.mdf".
    const std::string folder = ExtractFilePath(path);
    if (platform.GetFileKind(folder + layout.DataFile) == TFileKind::None) {
      const std::string upper =
          ChangeFileExt(layout.DataFile, UpperCaseAscii(ExtractFileExt(layout.DataFile)));
      if (platform.GetFileKind(folder + upper) != TFileKind::None) layout.DataFile = upper;
    }
    described.reset();
    described = OpenImageBytes(platform, FileBesideDescription(platform, path, layout.DataFile));
  }
  const size_t data = CheckDataTrack(layout, described->Size(), path);
  return TDiscImage::FromTrack(std::move(described), path, layout.Kind, layout.Tracks, data);
}

}  // namespace vr
