// Layered image reader: headers, frames, layers, composition.
#include "imaging/vesks.h"

#include <algorithm>

#include <cstring>

#include "imaging/koxmls.h"
#include "imaging/vskerror.h"
#include "imaging/vskzlib.h"

namespace vr {

// ---------------------------------------------------------------------------------------------------
// Header record

void TVeskHeader::Parse(const uint8_t* record) {
  Version = static_cast<int32_t>(ReadLE32(record + 0));
  Width = static_cast<int32_t>(ReadLE32(record + 4));
  Height = static_cast<int32_t>(ReadLE32(record + 8));
  Bpp = static_cast<int32_t>(ReadLE32(record + 12));
  Count = static_cast<int32_t>(ReadLE32(record + 16));
  SyncPal = record[20];
  Randomized = record[21];
  CompType = record[22];
  BGColor = ReadLE32(record + 24);
  BlockWidth = static_cast<int32_t>(ReadLE32(record + 28));
  BlockHeight = static_cast<int32_t>(ReadLE32(record + 32));
  NotFillBG = record[36];
  CompLevel = record[37];
}

TVeskPlaneParams TVeskHeader::PlaneParams(uint32_t identCode) const {
  TVeskPlaneParams p;
  p.Version = Version;
  p.CompType = CompType;
  p.BlockWidth = BlockWidth;
  p.BlockHeight = BlockHeight;
  p.Randomized = Randomized != 0;
  p.IdentCode = identCode;
  return p;
}

std::string VeskCompTypeName(int compType, bool japanese) {
  switch (compType) {
    case vctZlib:
      return japanese ? "通常圧縮" : "Default compression";
    case vctStored:
      return japanese ? "無圧縮" : "No compression";
    case vctJpeg:
      return japanese ? "不可逆圧縮" : "Nonreversible compression";
    default:
      return std::string();
  }
}

// ---------------------------------------------------------------------------------------------------
// Layers and frames

TVeskLayer::TVeskLayer(TVeskFrame* owner) : owner_(owner), surface_(new TDIBSurface) {}

TVeskFrame::TVeskFrame(TVeskFrameList* owner) : owner_(owner), surface_(new TDIBSurface) {}

TVeskFrame::~TVeskFrame() = default;

TVeskLayer* TVeskFrame::Layers(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return layers_[static_cast<size_t>(index)].get();
}

TVeskLayer* TVeskFrame::AddLayer() {
  layers_.push_back(std::make_unique<TVeskLayer>(this));
  return layers_.back().get();
}

void TVeskFrame::Clear() { layers_.clear(); }

TVeskFrameList::TVeskFrameList(uint32_t identCode) : IdentCode(identCode) {}

TVeskFrameList::~TVeskFrameList() = default;

TVeskFrame* TVeskFrameList::GetFrame(int index) const {
  if (index < 0 || index >= Count()) throw EVrError("Error:TVeskFrameList.GetFrame");
  return frames_[static_cast<size_t>(index)].get();
}

void TVeskFrameList::Clear() { frames_.clear(); }

TVeskFrame* TVeskFrameList::AddFrame() {
  frames_.push_back(std::make_unique<TVeskFrame>(this));
  return frames_.back().get();
}

// ---------------------------------------------------------------------------------------------------
// Reader

namespace {

constexpr int kMaxPaletteDepth = 8;
// A frame without layers is only its background; that much needs no data behind it.
constexpr int64_t kFreeFrameBytes = 1 << 20;
// Pixel memory one load may always use, whatever the file's size.
constexpr int64_t kFreeSurfaceBytes = int64_t(64) << 20;

bool IsValidDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

int BitCountOf(int depth) { return depth == 15 ? 16 : depth; }

int64_t RowBytesFor(int64_t width, int bitCount) { return ((width * bitCount + 31) / 32) * 4; }

}  // namespace

class TVeskReader {
 public:
  TVeskReader(TVeskFrameList& list, TStream& stream, bool firstFrameOnly, bool keepLayers, bool prepare)
      : list_(list),
        stream_(stream),
        firstFrameOnly_(firstFrameOnly),
        keepLayers_(keepLayers),
        prepare_(prepare) {
    start_ = stream.Position();
    pos_ = start_;
    end_ = stream.Size();
    // Block references let few bytes stand for many layers; all the surfaces of one load together
    // stay within what zlib could expand the whole file to, plus a fixed allowance.
    budget_ = kFreeSurfaceBytes + (end_ > start_ ? end_ - start_ : 0) * kMaxDeflateRatio;
    memory_ = dynamic_cast<TCustomMemoryStream*>(&stream);
  }

  void Load() {
    uint8_t signature[8] = {};
    const int32_t got = ReadSome(signature, 8);
    if (got >= 5 && std::memcmp(signature, "VeskX", 5) == 0) {
      LoadXml(signature, got);
    } else {
      Seek(start_);
      LoadBinary();
    }
    if (!keepLayers_) {
      for (int i = 0; i < list_.Count(); ++i) list_.GetFrame(i)->Clear();
    }
  }

 private:
  // --- stream access, with the bytes left known before anything is allocated

  int64_t Remaining() const { return end_ > pos_ ? end_ - pos_ : 0; }

  void Seek(int64_t position) {
    stream_.SetPosition(position);
    pos_ = position;
  }

  int32_t ReadSome(void* buffer, int32_t count) {
    const int32_t got = stream_.Read(buffer, count);
    pos_ += got > 0 ? got : 0;
    return got;
  }

  void Read(void* buffer, int64_t count) {
    if (count < 0 || count > Remaining()) RaiseVeskDamaged();
    auto* out = static_cast<uint8_t*>(buffer);
    while (count > 0) {
      const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(count, 1 << 30));
      if (ReadSome(out, chunk) != chunk) RaiseVeskDamaged();
      out += chunk;
      count -= chunk;
    }
  }

  int32_t ReadInt() {
    uint8_t b[4];
    Read(b, 4);
    return static_cast<int32_t>(ReadLE32(b));
  }

  uint8_t ReadByte() {
    uint8_t b;
    Read(&b, 1);
    return b;
  }

  void Skip(int64_t count) {
    if (count > Remaining()) RaiseVeskDamaged();
    Seek(pos_ + count);
  }

  std::string ReadName() {
    const int32_t length = ReadInt();
    if (length < 0 || length > Remaining()) RaiseVeskDamaged();
    std::string name(static_cast<size_t>(length), '\0');
    Read(name.data(), length);
    return name;
  }

  // --- XML-headed form

  void LoadXml(const uint8_t* signature, int32_t got) {
    if (got < 8) RaiseVeskDamaged();
    const uint8_t major = signature[5];
    const int majorVersion = (major >= '0' && major <= '9') ? major - '0' : 0;
    if (majorVersion > 2) throw EVrError("読み込めないファイル形式です");
    list_.Clear();

    const int32_t length = ReadInt();
    if (length <= 0 || length > Remaining()) RaiseVeskDamaged();
    std::vector<uint8_t> packed(static_cast<size_t>(length));
    Read(packed.data(), length);
    const std::vector<uint8_t> text =
        InflateAll(packed.data(), packed.size(),
                   static_cast<size_t>(std::min<uint64_t>(
                       static_cast<uint64_t>(length) * kMaxDeflateRatio + 1024, TKoXmlElement::MaxTextSize)));
    TKoXmlElement root;
    root.LoadFromText(std::string(text.begin(), text.end()));

    TVeskHeader& h = list_.header_;
    h = TVeskHeader();
    h.Version = root.ReadInteger("Version", 200);
    h.Width = root.ReadInteger("Width", 100);
    h.Height = root.ReadInteger("Height", 100);
    h.Bpp = root.ReadInteger("Bpp", 8);
    h.Count = root.ReadInteger("Count", 0);
    h.SyncPal = root.ReadBool("SyncPal", false) ? 1 : 0;
    h.Randomized = root.ReadBool("Randomized", false) ? 1 : 0;
    h.CompType = static_cast<uint8_t>(root.ReadInteger("CompType", 0));
    h.CompLevel = static_cast<uint8_t>(root.ReadInteger("CompLevel", 0));
    h.BGColor = static_cast<uint32_t>(root.ReadInteger("BGColor", 0));
    h.BlockWidth = root.ReadInteger("BlockWidth", 32);
    h.BlockHeight = root.ReadInteger("BlockHeight", 32);
    h.NotFillBG = root.ReadBool("NotFillBG", true) ? 1 : 0;
    list_.BGColor = h.BGColor;
    list_.NotFillBG = h.NotFillBG != 0;
    params_ = h.PlaneParams(list_.IdentCode);

    for (int32_t i = 0; i < h.Count; ++i) {
      const TKoXmlElement* element = root.Children(i);
      if (element == nullptr || !element->NameIs("Frame")) {
        if (i > 0) break;
        RaiseVeskDamaged();
      }
      lastFrame_ = firstFrameOnly_ || i == h.Count - 1;
      ReadXmlFrame(*element);
      if (firstFrameOnly_) break;
    }
  }

  void ReadXmlFrame(const TKoXmlElement& element) {
    TVeskFrame& frame = *list_.AddFrame();
    frame.Name = element.ReadString("Name", "");
    frame.TransColor = element.ReadInteger("TransColor", -1);
    frame.Delay = element.ReadInteger("Delay", 0);
    frame.Disposal = static_cast<uint8_t>(element.ReadInteger("Disposal", 0));
    const int layersAt = element.IndexOfChild("Layers");
    if (layersAt < 0) throw EVrError("レイヤーがありません");
    const TKoXmlElement& layers = *element.Children(layersAt);
    const int32_t layerCount = layers.ReadInteger("Count", 0);
    const int32_t width = layers.ReadInteger("Width", 100);
    const int32_t height = layers.ReadInteger("Height", 100);
    const int32_t depth = layers.ReadInteger("Bpp", 8);
    SizeFrame(frame, width, height, depth, layerCount, LayerDataMinimum());

    if (depth <= kMaxPaletteDepth) {
      const std::string table = layers.ReadChildText("RGB", "");
      const size_t entries = size_t(1) << depth;
      if (table.size() < entries * 6) throw EVrError("カラーテーブルがありません");
      TDIBSurface& surface = frame.Surface();
      for (size_t i = 0; i < entries; ++i) {
        const uint32_t bgr = static_cast<uint32_t>(VskTextToInt("$" + table.substr(i * 6, 6)));
        surface.ColorTable[i].rgbRed = static_cast<uint8_t>(bgr);
        surface.ColorTable[i].rgbGreen = static_cast<uint8_t>(bgr >> 8);
        surface.ColorTable[i].rgbBlue = static_cast<uint8_t>(bgr >> 16);
      }
      surface.UpdatePalette();
    }
    BeginFrame(frame);

    const int firstLayer = layers.IndexOfChild("Layer");
    bool first = true;
    for (int32_t j = 0; j < layerCount; ++j) {
      const TKoXmlElement* item = firstLayer >= 0 ? layers.Children(firstLayer + j) : nullptr;
      if (item == nullptr || !item->NameIs("Layer")) RaiseVeskDamaged();
      TVeskLayer& layer = *frame.AddLayer();
      layer.Visible = item->ReadBool("Visible", true);
      layer.TransColor = item->ReadInteger("TransColor", -1);
      layer.Alpha = item->ReadInteger("Alpha", 255);
      layer.AlphaOn = item->ReadBool("AlphaOn", false);
      layer.Name = item->ReadString("Name", "");
      ReadLayer(frame, layer, j, j == layerCount - 1, false, first);
    }
    EndFrame(frame);
  }

  // --- binary-headed form

  void LoadBinary() {
    list_.Clear();
    int32_t version = 0;
    char signature[7] = {};
    const int32_t got = ReadSome(signature, 7);
    if (got >= 4 && std::memcmp(signature, "Vesk", 4) == 0) {
      if (got < 7) RaiseVeskDamaged();
      version = VskTextToInt(std::string(signature + 4, 3));
    } else {
      Seek(start_);
    }
    list_.Version = version;

    TVeskHeader& h = list_.header_;
    h = TVeskHeader();
    int32_t count;
    if (version < 103) {
      count = ReadInt();
      Skip(1);
      if (version >= 102) list_.BGColor = static_cast<uint32_t>(ReadInt());
      h.Version = version;
      h.Count = count;
    } else {
      const int32_t length = ReadInt();
      // The record has 40 bytes; a longer one would not be understood.
      if (length < 0 || length > TVeskHeader::RecordSize) RaiseVeskDamaged();
      uint8_t record[TVeskHeader::RecordSize] = {};
      Read(record, length);
      h.Parse(record);
      count = h.Count;
      list_.BGColor = h.BGColor;
    }
    list_.NotFillBG = version >= 105 && h.NotFillBG != 0;
    params_ = h.PlaneParams(list_.IdentCode);

    // name length, transparent colour, delay, disposal, unused, layer count, width, height, depth
    constexpr int64_t kFrameRecordMinimum = 4 + 4 + 4 + 1 + 4 + 4 + 4 + 4 + 4;
    if (count < 0) RaiseVeskDamaged();
    if (count > 1 && firstFrameOnly_) count = 1;
    if (count > Remaining() / kFrameRecordMinimum) RaiseVeskDamaged();
    for (int32_t i = 0; i < count; ++i) {
      lastFrame_ = i == count - 1;
      ReadBinaryFrame();
    }
  }

  void ReadBinaryFrame() {
    const int32_t recordVersion = list_.header_.Version;
    TVeskFrame& frame = *list_.AddFrame();
    frame.Name = ReadName();
    frame.TransColor = ReadInt();
    frame.Delay = ReadInt();
    frame.Disposal = ReadByte();
    Skip(4);
    const int32_t layerCount = ReadInt();
    const int32_t width = ReadInt();
    const int32_t height = ReadInt();
    const int32_t depth = ReadInt();
    // unused bytes, visible, transparent colour, opacity, alpha switch, name length
    const int64_t layerRecord = 8 + 1 + 4 + 4 + (recordVersion >= 101 ? 1 : 0) + 4;
    SizeFrame(frame, width, height, depth, layerCount, layerRecord + LayerDataMinimum());

    if (depth <= kMaxPaletteDepth) {
      const size_t entries = size_t(1) << depth;
      uint8_t table[4 * 256];
      Read(table, static_cast<int64_t>(entries) * 4);
      TDIBSurface& surface = frame.Surface();
      for (size_t i = 0; i < entries; ++i) {
        surface.ColorTable[i].rgbBlue = table[i * 4];
        surface.ColorTable[i].rgbGreen = table[i * 4 + 1];
        surface.ColorTable[i].rgbRed = table[i * 4 + 2];
      }
      surface.UpdatePalette();
    }
    BeginFrame(frame);

    bool first = true;
    for (int32_t j = 0; j < layerCount; ++j) {
      TVeskLayer& layer = *frame.AddLayer();
      Skip(8);
      layer.Visible = ReadByte() != 0;
      layer.TransColor = ReadInt();
      layer.Alpha = ReadInt();
      if (recordVersion >= 101) layer.AlphaOn = ReadByte() != 0;
      layer.Name = ReadName();
      ReadLayer(frame, layer, j, j == layerCount - 1, true, first);
    }
    if (recordVersion >= 104) {
      ReadExtraList(frame.ExtraListA);
      ReadExtraList(frame.ExtraListB);
    }
    EndFrame(frame);
  }

  void ReadExtraList(std::vector<std::array<uint8_t, 16>>& list) {
    const int32_t count = ReadInt();
    if (count < 0) return;
    if (count > Remaining() / 16) RaiseVeskDamaged();
    list.resize(static_cast<size_t>(count));
    for (auto& entry : list) Read(entry.data(), 16);
  }

  // --- frames and layers

  // Counts pixel memory about to be allocated against the load's budget.
  void Spend(int64_t bytes) {
    if (bytes > budget_ - spent_) RaiseVeskDamaged();
    spent_ += bytes;
  }

  // Bytes every layer needs at least after its record: the colour plane length and, from record
  // version 100, the alpha plane length.
  int64_t LayerDataMinimum() const { return 4 + (params_.Version >= 100 ? 4 : 0); }

  // Checks a frame's size, depth and layer count against what the rest of the file can hold, then sizes
  // its surface. Each layer needs its own plane, and a plane can stand for at most so many bytes of
  // pixels (see VeskMinPlaneBytes).
  void SizeFrame(TVeskFrame& frame, int32_t width, int32_t height, int32_t depth, int32_t layerCount,
                 int64_t layerMinimum) {
    if (!IsValidDepth(depth) || width <= 0 || height <= 0 || width > TDIB::MaxDimension ||
        height > TDIB::MaxDimension) {
      RaiseVeskDamaged();
    }
    const int64_t rowBytes = RowBytesFor(width, BitCountOf(depth));
    const int64_t bytes = rowBytes * height;
    if (bytes > TDIB::MaxBytes) RaiseVeskDamaged();
    if (layerCount < 0 || layerCount > Remaining() / layerMinimum) RaiseVeskDamaged();
    const int64_t leastPlane = VeskMinPlaneBytes(params_, false, width, height, rowBytes);
    if (layerCount > 0 ? static_cast<int64_t>(layerCount) * leastPlane > Remaining()
                       : bytes > kFreeFrameBytes + Remaining() * kMaxDeflateRatio) {
      RaiseVeskDamaged();
    }
    Spend(bytes);
    frame.Surface().SetSize(width, height, depth);
  }

  // Transparent colour, then the background (the fill is left until a layer does not cover it).
  void BeginFrame(TVeskFrame& frame) {
    TDIBSurface& surface = frame.Surface();
    if (frame.TransColor >= 0) {
      surface.SetPixel(0, 0, static_cast<uint32_t>(frame.TransColor));
      frame.TransRGB = static_cast<int32_t>(surface.GetPixelColor(0, 0));
    } else {
      frame.TransRGB = -1;
    }
    const uint32_t bg = list_.BGColor;
    int red = static_cast<int>(bg & 0xFF);
    int green = static_cast<int>((bg >> 8) & 0xFF);
    int blue = static_cast<int>((bg >> 16) & 0xFF);
    // 15- and 16-bit surfaces take field values; the colour's intensities are narrowed to them.
    if (surface.BitDepth() == 15) {
      red >>= 3, green >>= 3, blue >>= 3;
    } else if (surface.BitDepth() == 16) {
      red >>= 3, green >>= 2, blue >>= 3;
    }
    background_ = surface.ColorToPixel(red, green, blue);
    backgroundPending_ = true;
  }

  void FillBackground(TVeskFrame& frame) {
    if (!backgroundPending_) return;
    backgroundPending_ = false;
    frame.Surface().FillRect(frame.Surface().BoundsRect(), background_);
  }

  // Reads a layer's planes, decodes them into the layer's surface (sized like the frame's) and composes
  // the layer onto the frame.
  void ReadLayer(TVeskFrame& frame, TVeskLayer& layer, int index, bool lastOfFrame, bool binaryForm,
                 bool& first) {
    const TDIBSurface& frameSurface = frame.Surface();
    const int width = frameSurface.Width();
    const int height = frameSurface.Height();
    const int depth = frameSurface.BitDepth();
    const int32_t colorLength = ReadInt();
    if (colorLength <= 0 || colorLength > Remaining() ||
        colorLength < VeskMinPlaneBytes(params_, false, width, height, frameSurface.RowSize())) {
      RaiseVeskDamaged();
    }
    const uint8_t* color = ReadPlane(colorLength, colorBuffer_);
    int32_t alphaLength = 0;
    const uint8_t* alpha = nullptr;
    if (params_.Version >= 100) {
      alphaLength = ReadInt();
      if (alphaLength > 0) {
        if (alphaLength > Remaining() ||
            alphaLength < VeskMinPlaneBytes(params_, true, width, height, RowBytesFor(width, 8))) {
          RaiseVeskDamaged();
        }
        alpha = ReadPlane(alphaLength, alphaBuffer_);
      }
    }
    if (binaryForm && alpha != nullptr && layer.AlphaOn) layer.TransColor = -1;

    // The last layer read, not kept, that would be copied plainly over the whole frame: its pixels go
    // straight into the frame (nothing can refer to it later, and its surface would be freed unread).
    if (!keepLayers_ && lastFrame_ && lastOfFrame && alpha == nullptr && layer.Visible && first &&
        IsPlainCopy(layer, first)) {
      DecodePlane(color, static_cast<size_t>(colorLength), frame.Surface(), false, params_, Lookup(false));
      backgroundPending_ = false;
      first = false;
      return;
    }

    TDIBSurface& surface = layer.Surface();
    Spend(static_cast<int64_t>(frameSurface.RowSize()) * height);
    surface.SetSize(width, height, depth);
    DecodePlane(color, static_cast<size_t>(colorLength), surface, false, params_, Lookup(false));
    layer.ColorDecoded = true;
    if (alpha != nullptr) {
      Spend(RowBytesFor(width, 8) * height);
      surface.CreateAlpha();
      DecodePlane(alpha, static_cast<size_t>(alphaLength), *surface.AlphaPlane(), true, params_,
                  Lookup(true));
      layer.AlphaDecoded = true;
    }
    if (!binaryForm) {
      surface.ColorTable = frame.Surface().ColorTable;
    } else if (keepLayers_ && depth <= kMaxPaletteDepth) {
      surface.ColorTable = frame.Surface().ColorTable;
      surface.UpdatePalette();
    }
    Compose(frame, layer, index, first);
  }

  // The plane's bytes: in place when the stream is in memory, else read into buffer.
  const uint8_t* ReadPlane(int32_t length, std::vector<uint8_t>& buffer) {
    if (memory_ != nullptr && pos_ + length <= memory_->Size()) {
      const uint8_t* data = memory_->Memory() + pos_;
      Skip(length);
      return data;
    }
    buffer.resize(static_cast<size_t>(length));
    Read(buffer.data(), length);
    return buffer.data();
  }

  TVeskPlaneLookup Lookup(bool alpha) {
    TVeskFrameList& list = list_;
    return [&list, alpha](int32_t frameIndex, int32_t layerIndex) -> const TDIB& {
      TVeskFrame* frame = list.GetFrame(frameIndex);
      TVeskLayer* layer = frame->Layers(layerIndex);
      if (layer == nullptr) RaiseVeskDamaged();
      if (alpha) {
        if (!layer->AlphaDecoded || layer->Surface().AlphaPlane() == nullptr) RaiseVeskDamaged();
        return *layer->Surface().AlphaPlane();
      }
      if (!layer->ColorDecoded) RaiseVeskDamaged();
      return layer->Surface();
    };
  }

  bool IsPlainCopy(const TVeskLayer& layer, bool first) const {
    return (layer.TransColor < 0 || (first && list_.NotFillBG)) && layer.Alpha >= 255;
  }

  void Compose(TVeskFrame& frame, TVeskLayer& layer, int index, bool& first) {
    if (!layer.Visible) return;
    TDIBSurface& target = frame.Surface();
    const TDIBSurface& source = layer.Surface();
    const bool masked = source.HasAlpha() && layer.AlphaOn;
    if (masked && first) {
      if (!target.HasAlpha()) Spend(RowBytesFor(target.Width(), 8) * target.Height());
      target.CopyAlphaFrom(*source.AlphaPlane());
    }
    if (masked && index > 0) {
      FillBackground(frame);
      target.DrawAlphaMask(0, 0, 255, source.BoundsRect(), source);
    } else if (IsPlainCopy(layer, first)) {
      // A plain copy of a layer of the frame's size covers every pixel: no background needed below it.
      backgroundPending_ = false;
      target.Draw(0, 0, source);
    } else {
      FillBackground(frame);
      target.DrawAlpha(0, 0, layer.Alpha, layer.TransColor, source.BoundsRect(), source);
    }
    first = false;
  }

  void EndFrame(TVeskFrame& frame) {
    FillBackground(frame);
    if (prepare_) Prepare(frame);
    frame.Surface().Dormant();
    if (frame.Surface().HasAlpha()) frame.Surface().AlphaPlane()->Dormant();
    if (keepLayers_) {
      for (int i = 0; i < frame.Count(); ++i) frame.Layers(i)->Surface().Dormant();
    }
  }

  // --- prepare option

  // An alpha plane that is 0 where the surface holds trans, 255 elsewhere.
  static void MaskTransparent(TDIBSurface& surface, int32_t trans) {
    surface.CreateAlpha();
    surface.FillAlphaOpaque();
    TDIBSurface& alpha = *surface.AlphaPlane();
    const uint32_t value = static_cast<uint32_t>(trans);
    for (int y = 0; y < surface.Height(); ++y) {
      uint8_t* mask = alpha.ScanLine(y);
      for (int x = 0; x < surface.Width(); ++x) {
        if (surface.GetPixel(x, y) == value) mask[x] = 0;
      }
    }
  }

  void Prepare(TVeskFrame& frame) {
    TDIBSurface& surface = frame.Surface();
    if (frame.TransRGB >= 0) {
      if (!surface.HasAlpha()) MaskTransparent(surface, frame.TransColor);
      if (keepLayers_) {
        for (int i = 0; i < frame.Count(); ++i) {
          TVeskLayer& layer = *frame.Layers(i);
          if (layer.Surface().HasAlpha()) continue;
          const int32_t trans = layer.TransColor >= 0 ? layer.TransColor : frame.TransColor;
          if (trans >= 0) MaskTransparent(layer.Surface(), trans);
        }
      }
    }
    if (list_.TargetDepth > 0) {
      if (surface.HasAlpha() || frame.TransRGB < 0) {
        surface.ConvertToDepth(list_.TargetDepth);
        if (keepLayers_) {
          for (int i = 0; i < frame.Count(); ++i)
            frame.Layers(i)->Surface().ConvertToDepth(list_.TargetDepth);
        }
      }
    } else if (surface.BitDepth() <= kMaxPaletteDepth) {
      int foundX = -1;
      int foundY = -1;
      if (frame.TransColor >= 0) {
        const uint32_t value = static_cast<uint32_t>(frame.TransColor);
        for (int y = 0; y < surface.Height() && foundY < 0; ++y) {
          for (int x = 0; x < surface.Width(); ++x) {
            if (surface.GetPixel(x, y) == value) {
              foundX = x;
              foundY = y;
              break;
            }
          }
        }
      }
      surface.ConvertToDepth(24);
      if (keepLayers_) {
        for (int i = 0; i < frame.Count(); ++i) frame.Layers(i)->Surface().ConvertToDepth(24);
      }
      if (foundY >= 0) frame.TransColor = static_cast<int32_t>(surface.GetPixel(foundX, foundY));
    }
  }

  TVeskFrameList& list_;
  TStream& stream_;
  bool firstFrameOnly_;
  bool keepLayers_;
  bool prepare_;
  int64_t start_ = 0;
  int64_t pos_ = 0;
  int64_t end_ = 0;
  TVeskPlaneParams params_;
  TCustomMemoryStream* memory_ = nullptr;
  std::vector<uint8_t> colorBuffer_;
  std::vector<uint8_t> alphaBuffer_;
  bool lastFrame_ = false;
  int64_t budget_ = 0;
  int64_t spent_ = 0;
  uint32_t background_ = 0;
  bool backgroundPending_ = false;
};

void TVeskFrameList::LoadFromStream(TStream& stream, bool firstFrameOnly, bool keepLayers, bool prepare) {
  TVeskReader reader(*this, stream, firstFrameOnly, keepLayers, prepare);
  reader.Load();
}

}  // namespace vr
