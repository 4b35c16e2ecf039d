#pragma once
// Errors in this layer: a load ends in a LoadFailure (None on success), and its status text is
// made from it by LoadStatusText; a decoder ends in a DecodeResult. Nothing here throws or
// prints, and no caller needs to read a status text back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"
#include "firmware/firmware_image.h"
#include "firmware/record_decoders.h"

namespace loadwing {

// Errors in the firmware layer: a decoder returns a DecodeResult; loading a file returns a
// LoadOutcome whose target is None and whose failure (a LoadFailure) says why on every failure;
// the status text the dialog shows is made from it, never parsed back.
// Nothing throws for a bad file, and a failed load never leaves a half-decoded image marked
// with a target.

// Why a load failed. Several kinds share one status text (the dialog's texts are fixed); the
// command line tells them apart.
enum class LoadFailure : std::uint8_t {
  None,
  NotFound,          // " load firmware: can't open file, error 1"
  AccessDenied,      //   "
  Folder,            //   "
  NotRegularFile,    //   "
  CannotOpen,        //   "
  SizeUnknown,       // " ... error 2": no size, or 4 GiB or more
  TooBig,            // " load firmware: file is too big"
  ReadFailed,        // " ... error 4" (S-records); " load firmware: unexpected end of file" (HEX)
  SRecordsEnded,     // " ... error 5": no S8 record before the text ended
  SRecordChecksum,   // " ... error 6"
  OutOfRange,        // " ... error 7": data that cannot be placed in the image
  NoTargetMarker,    // " load firmware: invalid firmware file"
  IntelHexEnded,     // " load firmware: unexpected end of file"
  IntelHexChecksum,  // " load firmware: read error"
};

// What loading a firmware file came to: the target (None on every failure), why it failed, and
// the status text, with its leading blank, exactly as the status line shows it.
struct LoadOutcome {
  FirmwareTarget target = FirmwareTarget::None;
  std::string statusText;
  LoadFailure failure = LoadFailure::None;
};

// The status text of a load that ended with failure (None: loaded target) from a file of the
// given format.
std::string LoadStatusText(LoadFailure failure, bool intelHex, FirmwareTarget target);

// The largest S-record file taken, and the size of the buffer it is read into.
inline constexpr std::size_t kSRecordTextBufferSize = 401408;
// The largest Intel HEX file read. 64 KiB of data in one-byte records with CR LF line ends
// take under 1 MiB; beyond 4 MiB a file is no firmware, and reading on would only cost memory.
inline constexpr std::size_t kIntelHexFileLimit = 4u * 1024 * 1024;

// The text after the last "." of the file name in path (either slash separates folders), empty
// when the name has no ".".
[[nodiscard]] std::string FirmwareFileExtension(const std::string& path);

// True when path is read as S-records: its extension is "mot" in any letter case.
[[nodiscard]] bool IsSRecordFile(const std::string& path);

// What a load came across besides its outcome, for those who describe the file.
struct LoadDetails {
  IntelHexStatistics hexStatistics;  // left alone for S-record files
  ImageCoverage coverage;            // the image offsets either decoder wrote
  // The file's bytes from the one read, whatever the decoders made of them; empty when the
  // file could not be read.
  std::vector<std::uint8_t> fileBytes;
};

// Reads the file at path into image by the loading rules: ".mot" in any letter case is read as
// S-records, anything else as Intel HEX. The file is opened once, its size checked against the
// format's limit, and read once into memory; both decoders work on those bytes. Sets
// image.target to the outcome's target. A failure before decoding leaves image.data untouched.
// The file is closed on every path.
[[nodiscard]] LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image);

// The same, with the file opened through files; details, when given, receives what the load
// came across.
[[nodiscard]] LoadOutcome LoadFirmwareFile(const std::string& path, FirmwareImage& image,
                                           FirmwareFileSystem& files,
                                           LoadDetails* details = nullptr);

}  // namespace loadwing
