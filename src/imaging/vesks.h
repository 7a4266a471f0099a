// Layered, animated images (".VSK"): a list of frames, each a stack of layers composed onto a
// background. Both file generations are read: the XML-headed "VeskX200" form and the binary-headed
// "Vesk" + three digits form (or its oldest shape without a signature).
//
// What a viewer or converter needs after LoadFromStream:
//   list.Count()                       number of frames read
//   list.GetFrame(k)->Surface          the composed frame k (TDIBSurface): Width(), Height(),
//                                      BitDepth() (1, 4, 8, 15, 16, 24, 32), ColorTable / Palette()
//                                      for palette depths, RedMask()/GreenMask()/BlueMask() for 16-bit,
//                                      AlphaPlane() (8-bit, or nullptr; see TVeskFrame::HasAlpha)
//   list.Header()                      the header record of the file (compression kind, block grid...)
//   VeskCompTypeName(kind, japanese)   display name of a compression kind
//   ConvertSurfaceTo24 (dibsfc.h)      frame pixels as plain blue-green-red
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"
#include "imaging/dibsfc.h"
#include "imaging/vskplane.h"
#include "imaging/vskprobe.h"

namespace vr {

class TVeskFrame;
class TVeskFrameList;

// The 40-byte header record (little-endian in binary-headed files, filled from the XML header otherwise;
// missing values are 0).
struct TVeskHeader {
  static constexpr int RecordSize = 40;
  int32_t Version = 0;  // governs the frame and layer layouts and the plane encoding
  int32_t Width = 0;    // informative; frames carry their own sizes
  int32_t Height = 0;
  int32_t Bpp = 0;
  int32_t Count = 0;  // number of frames
  uint8_t SyncPal = 0;
  uint8_t Randomized = 0;  // rows or block index permuted
  uint8_t CompType = 0;    // TVeskCompType
  uint32_t BGColor = 0;    // red in the low byte
  int32_t BlockWidth = 0;  // 0 in either direction: whole rows
  int32_t BlockHeight = 0;
  uint8_t NotFillBG = 0;
  uint8_t CompLevel = 0;

  // Fills the record from its 40-byte stored form.
  void Parse(const uint8_t* record);
  TVeskPlaneParams PlaneParams(uint32_t identCode) const;
};

// Display name of a compression kind: "Default compression" / "通常圧縮", "No compression" / "無圧縮",
// "Nonreversible compression" / "不可逆圧縮"; an empty text for other values.
std::string VeskCompTypeName(int compType, bool japanese);

// One layer: a colour surface of the frame's size and depth, optionally with an alpha plane.
class TVeskLayer {
 public:
  explicit TVeskLayer(TVeskFrame* owner);
  TVeskLayer(const TVeskLayer&) = delete;
  TVeskLayer& operator=(const TVeskLayer&) = delete;

  TVeskFrame* Owner() const { return owner_; }
  TDIBSurface& Surface() { return *surface_; }
  const TDIBSurface& Surface() const { return *surface_; }

  std::string Name;
  bool Visible = true;
  int32_t TransColor = -1;  // transparent pixel value, -1 for none
  int32_t Alpha = 255;      // constant opacity 0..255
  bool AlphaOn = false;     // whether the alpha plane takes part in composition

  // Whether the colour plane / the alpha plane has been decoded (blocks of later layers may copy them).
  bool ColorDecoded = false;
  bool AlphaDecoded = false;

 private:
  TVeskFrame* owner_;
  std::unique_ptr<TDIBSurface> surface_;
};

// One frame: the composed picture and, while loading or with keepLayers, its layers (bottom first).
class TVeskFrame {
 public:
  explicit TVeskFrame(TVeskFrameList* owner);
  TVeskFrame(const TVeskFrame&) = delete;
  TVeskFrame& operator=(const TVeskFrame&) = delete;
  ~TVeskFrame();

  TVeskFrameList* Owner() const { return owner_; }
  TDIBSurface& Surface() { return *surface_; }
  const TDIBSurface& Surface() const { return *surface_; }
  bool HasAlpha() const { return surface_->HasAlpha(); }

  int Count() const { return static_cast<int>(layers_.size()); }
  // The layer at index, or nullptr outside the list.
  TVeskLayer* Layers(int index) const;
  // Creates a layer, appends it (on top) and returns it.
  TVeskLayer* AddLayer();
  // Frees all layers.
  void Clear();

  std::string Name;
  int32_t Delay = 100;
  uint8_t Disposal = 0;
  int32_t TransColor = -1;  // palette index or packed pixel value, -1 for none
  int32_t TransRGB = -1;    // the colour TransColor stands for (red in the low byte), -1 for none
  std::vector<std::array<uint8_t, 16>> ExtraListA;
  std::vector<std::array<uint8_t, 16>> ExtraListB;

 private:
  TVeskFrameList* owner_;
  std::unique_ptr<TDIBSurface> surface_;
  std::vector<std::unique_ptr<TVeskLayer>> layers_;
};

// A layered image: frames composed at load time.
class TVeskFrameList {
 public:
  // identCode seeds every row and block permutation of the files this list reads.
  explicit TVeskFrameList(uint32_t identCode);
  TVeskFrameList(const TVeskFrameList&) = delete;
  TVeskFrameList& operator=(const TVeskFrameList&) = delete;
  ~TVeskFrameList();

  // Reads one image from the stream's current position, replacing the frames.
  // firstFrameOnly: read at most one frame. keepLayers: keep every frame's layers; otherwise they are
  // freed once all frames are read. prepare: give frames with a transparent colour an alpha plane and
  // convert frames (to TargetDepth, or palette frames to 24 bits).
  // Errors (EVrError unless noted): "読み込めないファイル形式です" (XML-headed form of a later major
  // version), "ファイルが破壊されています" (damaged or truncated file, impossible sizes or counts,
  // references to missing blocks, layers or planes), "レイヤーがありません", "カラーテーブルがありません",
  // "識別コードを設定してください", "Error:TVeskFrameList.GetFrame", EConvertError for a binary signature
  // whose version is not a number, EZLibError / EJpegError for damaged compressed data. The frames read
  // before an error stay in the list.
  void LoadFromStream(TStream& stream, bool firstFrameOnly, bool keepLayers, bool prepare);

  int Count() const { return static_cast<int>(frames_.size()); }
  // The frame at index; "Error:TVeskFrameList.GetFrame" outside the list.
  TVeskFrame* GetFrame(int index) const;
  // Frees all frames (BGColor and the other settings stay).
  void Clear();
  // The header record of the last file read.
  const TVeskHeader& Header() const { return header_; }

  uint32_t BGColor = 0;  // red in the low byte
  int32_t Version = 0;   // number of a binary-headed signature, 0 without one
  int32_t TargetDepth = 0;
  uint32_t IdentCode;
  bool NotFillBG = false;

 private:
  friend class TVeskReader;
  TVeskFrame* AddFrame();

  TVeskHeader header_;
  std::vector<std::unique_ptr<TVeskFrame>> frames_;
};

}  // namespace vr
