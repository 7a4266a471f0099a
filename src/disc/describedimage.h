// Images whose tracks are described apart from their sectors: Alcohol's MDS descriptor with its MDF,
// CloneCD's CCD control file with its IMG (the SUB file of subchannel data is not needed for reading),
// and Nero's NRG with its track list in chunks behind the sectors. Each parser turns its description into
// the disc's tracks; the first data track is then read as ISO 9660 by TDiscImage, audio tracks skipped.
//
// Everything a description says is checked before it is used: counts, offsets and lengths against the
// bytes there are, and the data file it names is taken from beside it only, a regular file reached
// without a link.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "disc/discimage.h"

namespace vr {

// The tracks a description gives, and the file holding their sectors.
struct TImageLayout {
  std::string Kind;  // "MDS/MDF", "CCD/IMG" or "NRG"
  std::vector<TDiscTrack> Tracks;
  // The file of the data tracks as the description names it (code page 932); empty when the sectors are
  // in the described file itself (NRG).
  std::string DataFile;
};

// Limits of a description; more is refused with an EDiscError.
constexpr int64_t kMaxDescriptionBytes = 16 << 20;
constexpr size_t kMaxDescribedTracks = 99;

// An MDS descriptor of versions 1.x; `mdsName` (code page 932) gives the MDF's name where the descriptor
// says "*.mdf" or names none.
TImageLayout ParseMds(const std::string& bytes, const std::string& mdsName);
// A CCD control file's text; its IMG is named after `ccdName`.
TImageLayout ParseCcd(const std::string& text, const std::string& ccdName);
// The chunks at the end of an NRG image (version-1 "NERO" or version-2 "NER5" footer).
TImageLayout ReadNrgLayout(TImageBytes& bytes);

// The first data track of `layout` checked against the size of the file holding it: its first sector, its
// sector count, and a place on the disc. Fills in Sectors where the description left it open. Returns its
// index; EDiscError (naming `shown`) when there is none or it does not fit.
size_t CheckDataTrack(TImageLayout& layout, int64_t dataFileSize, const std::string& shown);

// The image `path` when its extension is ".mds", ".ccd" or ".nrg"; null for any other extension.
std::unique_ptr<TDiscImage> OpenDescribedImage(TPlatform& platform, const std::string& path);

// A file named by an image's description (cue sheet, MDS, CCD), as a path beside `description`: refused
// when it would leave that folder or pass a link.
std::string FileBesideDescription(TPlatform& platform, const std::string& description,
                                  const std::string& name);

}  // namespace vr
