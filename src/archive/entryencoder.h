// Encoding of archive entries in memory, on any thread.
#pragma once

#include <cstdint>
#include <exception>

#include "archive/workers.h"
#include "framework/classes.h"

namespace vr {

// One entry's content and how to encode it; Run turns it into the stored bytes. Everything the encoding
// needs is in the job, so jobs can be encoded on any thread (TWorkers).
struct TEncodeJob : TWorkerJob {
  // In: the content (replaced by the stored bytes), and the decisions taken while reading it.
  TMemoryStream Data;
  bool Compress = false;
  // Store the content as it is when compression saves less than a tenth.
  bool StoreWhenPoor = false;
  bool Scramble = false;
  uint32_t Seed = 0;
  // The checksum covers the content rather than the stored bytes (separate entries).
  bool ContentChecksum = false;

  // Out: the storage kind and checksum, or the error that stopped the encoding.
  uint8_t Kind = 0;
  uint32_t CRC = 0;
  std::exception_ptr Error;

  // Compresses and scrambles Data as decided, sets Kind and CRC; any error goes to Error.
  void Run() noexcept override;
};

}  // namespace vr
