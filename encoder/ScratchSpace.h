// Room for the encoder's data that waits for finish() (the input, and in bitrate mode its
// analysis): memory first, then a nameless scratch file in the temporary folder ($TMPDIR, else
// /tmp), never beside the output. Like flac and oggenc, a run then needs room on the output's
// volume for the output only, and when the scratch file is what ran out of room the failure
// says so, naming its folder and TMPDIR, instead of passing for a failure of the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ScratchFile.h"

namespace talveco {

class ScratchSpace {
  public:
    // Appends all of `bytes`. A scratch file that is full, or cannot be made, raises a Failure
    // whose text names the scratch file and its folder.
    void append(std::span<const std::byte> bytes);
    // Fills `out` with the bytes from `offset` on, which must have been appended.
    void read(std::uint64_t offset, std::span<std::byte> out) const { file_.read(offset, out); }

  private:
    ScratchFile file_{""};  // "": the temporary folder
};

}  // namespace talveco
