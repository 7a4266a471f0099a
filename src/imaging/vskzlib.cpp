#include "imaging/vskzlib.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "framework/sysutils.h"

namespace vr {

struct TVskInflater::TState {
  z_stream z{};
  bool ended = false;
};

namespace {

[[noreturn]] void Fail(const z_stream& z, int code) {
  std::string text = "zlib: ";
  if (code == Z_BUF_ERROR || code == Z_OK) {
    text += "unexpected end of data";
  } else if (z.msg != nullptr) {
    text += z.msg;
  } else {
    text += "error " + std::to_string(code);
  }
  throw EZLibError(text);
}

}  // namespace

TVskInflater::TVskInflater(const uint8_t* data, size_t size) : state_(new TState) {
  z_stream& z = state_->z;
  z.next_in = const_cast<Bytef*>(data);
  // zlib counts input in 32 bits; plane buffers are far below that (they come from 32-bit lengths).
  z.avail_in = static_cast<uInt>(std::min<size_t>(size, std::numeric_limits<uInt>::max()));
  if (inflateInit(&z) != Z_OK) {
    delete state_;
    throw EZLibError("zlib: cannot initialise the decompressor");
  }
}

TVskInflater::~TVskInflater() {
  inflateEnd(&state_->z);
  delete state_;
}

void TVskInflater::Read(uint8_t* out, size_t count) {
  z_stream& z = state_->z;
  while (count > 0) {
    if (state_->ended) Fail(z, Z_BUF_ERROR);
    const uInt chunk = static_cast<uInt>(std::min<size_t>(count, 1u << 30));
    z.next_out = out;
    z.avail_out = chunk;
    const int rc = inflate(&z, Z_NO_FLUSH);
    const size_t produced = chunk - z.avail_out;
    out += produced;
    count -= produced;
    if (rc == Z_STREAM_END) {
      state_->ended = true;
    } else if (rc != Z_OK) {
      Fail(z, rc);
    } else if (produced == 0 && z.avail_in == 0) {
      Fail(z, Z_BUF_ERROR);  // input used up before the stream's end
    }
  }
}

void TVskInflater::ReadRest(std::vector<uint8_t>& out, size_t limit) {
  z_stream& z = state_->z;
  while (!state_->ended) {
    const size_t have = out.size();
    size_t want = std::max<size_t>(have / 2, 64 * 1024);
    if (have >= limit) {
      want = 1;  // one more byte tells whether the stream really ends here
    } else {
      want = std::min(want, limit - have);
    }
    out.resize(have + want);
    z.next_out = out.data() + have;
    z.avail_out = static_cast<uInt>(want);
    const int rc = inflate(&z, Z_NO_FLUSH);
    const size_t produced = want - z.avail_out;
    out.resize(have + produced);
    if (out.size() > limit) throw EZLibError("zlib: data longer than expected");
    if (rc == Z_STREAM_END) {
      state_->ended = true;
    } else if (rc != Z_OK) {
      Fail(z, rc);
    } else if (produced == 0 && z.avail_in == 0) {
      Fail(z, Z_BUF_ERROR);
    }
  }
}

std::vector<uint8_t> InflateAll(const uint8_t* data, size_t size, size_t limit) {
  TVskInflater inflater(data, size);
  std::vector<uint8_t> out;
  inflater.ReadRest(out, limit);
  return out;
}

}  // namespace vr
