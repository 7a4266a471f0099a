// image info / image convert: layered images described and written as PNG, PPM or PAM.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "commands.h"
#include "console.h"
#include "imagewriter.h"
#include "imaging/vesks.h"
#include "platform/platform.h"
#include "surfacergb.h"
#include "textconv.h"

namespace vrtool {
namespace {

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

// The signature in front of the image, for the description only.
std::string FormName(vr::TMemoryStream& m) {
  std::string head(reinterpret_cast<const char*>(m.Memory()),
                   static_cast<size_t>(std::min<int64_t>(m.Size(), 8)));
  if (head.compare(0, 5, "VeskX") == 0) return "XML-headed (" + head + ")";
  if (head.compare(0, 4, "Vesk") == 0) return "binary-headed (" + head.substr(0, 7) + ")";
  return "binary-headed, no signature";
}

void LoadImage(const std::string& file, uint32_t seed, bool keepLayers, vr::TMemoryStream& m,
               vr::TVeskFrameList& list) {
  try {
    m.LoadFromFile(HostPathToCp932(file, "file name"));
    m.SetPosition(0);
    list.IdentCode = seed;
    list.LoadFromStream(m, false, keepLayers, false);
  } catch (const vr::Exception& e) {
    throw ToolError(file + ": " + Localize(ToUtf8(e.Message)));
  }
}

}  // namespace

int CmdImageInfo(const std::string& file, uint32_t seed) {
  vr::TMemoryStream m;
  vr::TVeskFrameList list(seed);
  // Read as convert reads it (the same checks and memory bounds), then once more keeping the layers
  // for their description when that fits the same bounds.
  {
    vr::TVeskFrameList check(seed);
    vr::TMemoryStream bytes;
    LoadImage(file, seed, false, bytes, check);
  }
  bool layersShown = true;
  try {
    LoadImage(file, seed, true, m, list);
  } catch (const ToolError&) {
    layersShown = false;
    list.Clear();
    m.Clear();
    LoadImage(file, seed, false, m, list);
  }
  const vr::TVeskHeader& h = list.Header();
  std::string out;
  out += "Format: " + FormName(m) + "\n";
  out += "Version: " + std::to_string(h.Version) + "\n";
  out += "Size: " + std::to_string(h.Width) + "x" + std::to_string(h.Height) + ", " + std::to_string(h.Bpp) +
         " bits\n";
  out +=
      "Compression: " + std::to_string(h.CompType) + " (" + vr::VeskCompTypeName(h.CompType, false) + ")\n";
  out += "Randomized: " + std::string(h.Randomized ? "yes" : "no") + "\n";
  out += "Blocks: " + std::to_string(h.BlockWidth) + "x" + std::to_string(h.BlockHeight) + "\n";
  out += "Background: #" + Hex(list.BGColor & 0xFFFFFF, 6) + " (red in the low byte)\n";
  out += "NotFillBG: " + std::string(list.NotFillBG ? "yes" : "no") + "\n";
  out += "Frames: " + std::to_string(list.Count()) + "\n";
  for (int i = 0; i < list.Count(); ++i) {
    vr::TVeskFrame* f = list.GetFrame(i);
    const vr::TDIBSurface& s = f->Surface();
    out += "Frame " + std::to_string(i) + ": " + std::to_string(s.Width()) + "x" +
           std::to_string(s.Height()) + ", " + std::to_string(s.BitDepth()) + " bits" +
           (f->HasAlpha() ? ", alpha" : "") + ", delay " + std::to_string(f->Delay) + ", disposal " +
           std::to_string(f->Disposal) + ", transparent " + std::to_string(f->TransColor) + ", name \"" +
           ToUtf8(f->Name) + "\"\n";
    if (!layersShown)
      out += "  (layers not shown: keeping them would exceed the memory bound of one image)\n";
    for (int k = 0; k < f->Count(); ++k) {
      vr::TVeskLayer* l = f->Layers(k);
      out += "  Layer " + std::to_string(k) + ": " + (l->Visible ? "visible" : "hidden") + ", opacity " +
             std::to_string(l->Alpha) + (l->Surface().HasAlpha() ? ", alpha plane" : "") +
             (l->AlphaOn ? " (on)" : "") + ", transparent " + std::to_string(l->TransColor) + ", name \"" +
             ToUtf8(l->Name) + "\"\n";
    }
  }
  WriteStdout(out);
  return 0;
}

int CmdImageConvert(const std::string& file, uint32_t seed, int frame, const std::string& out) {
  vr::TMemoryStream m;
  vr::TVeskFrameList list(seed);
  LoadImage(file, seed, false, m, list);
  if (frame < 0 || frame >= list.Count()) {
    throw ToolError("frame " + std::to_string(frame) + " does not exist: the image has " +
                    std::to_string(list.Count()) + (list.Count() == 1 ? " frame" : " frames"));
  }
  const vr::TDIBSurface& surface = list.GetFrame(frame)->Surface();
  const TPictureRows rows = SurfaceRows(surface);
  if (!rows.Row || rows.Width <= 0 || rows.Height <= 0)
    throw ToolError("frame " + std::to_string(frame) + " is empty");
  const std::string format = ImageFormat(out);
  if (format == ".png") {
    const std::string path = HostPathToCp932(out, "file name");
    auto f = std::make_unique<vr::TFileStream>(path, vr::fmCreate);
    try {
      WritePng(rows, *f);
    } catch (...) {
      f.reset();
      vr::Platform().DeleteFile(path);  // no half-written picture under its name
      throw;
    }
    return 0;
  }
  std::string bytes = EncodeImage(SurfaceToRgb(surface), format);
  vr::TFileStream f(HostPathToCp932(out, "file name"), vr::fmCreate);
  f.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  return 0;
}

}  // namespace vrtool
