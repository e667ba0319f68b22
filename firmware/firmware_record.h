// The .dat firmware file: records of a 28-byte little-endian header and an image, back to back
// from offset 0, with no file header, trailer, padding or checksum.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"

struct FirmwareRecordHeader {
  uint16_t version = 0;  // in hundredths: 137 is 1.37
  uint16_t beta = 0;     // 0 for a release
  uint32_t targetAddress =
      0;                    // erase address given to the boot loader, sent in the file information
  uint32_t imageSize = 0;   // image bytes that follow the header
  uint32_t deviceType = 0;  // the boot loader device type the record fits
  uint8_t reserved[12] = {};

  // The first four bytes read as one word: version in the low half, beta in the high half.
  uint32_t VersionWord() const { return static_cast<uint32_t>(version) | (uint32_t{beta} << 16); }
  bool operator==(const FirmwareRecordHeader&) const = default;
};

constexpr uint32_t kRecordHeaderSize = 28;

// Decodes the 28 header bytes as stored in the file.
FirmwareRecordHeader DecodeRecordHeader(const uint8_t bytes[kRecordHeaderSize]);
// A whole one-record file: the header (its imageSize set to the image's size) and the image.
std::vector<uint8_t> EncodeFirmwareRecord(FirmwareRecordHeader header,
                                          const std::vector<uint8_t>& image);

// How a walk along the record chain ended.
enum class RecordChainEnd {
  kEnd,         // the last record ends exactly at the end of the file (or the file is empty)
  kStopped,     // the visitor asked to stop
  kUnreadable,  // the file cannot be opened or read, or is 2 GiB or more
  kCutShort,    // a header is cut short by the end of the file
  kWraps,       // a next offset does not fit 32 bits
  kTooLong,     // more than 1024 records
};

// Visits the records from offset 0 in file order: visit(offset, header) answers false to stop.
// *fileLength (may be null) receives the file's length. A record whose image runs past the end of
// the file is visited like any other, and is the last.
RecordChainEnd WalkFirmwareRecords(
    const std::u16string& path,
    const std::function<bool(uint32_t offset, const FirmwareRecordHeader& header)>& visit,
    uint64_t* fileLength = nullptr);

// The byte offset of the first record whose deviceType equals deviceType, or -1 when there is none,
// the file cannot be opened or read, or its record chain is malformed (a header cut short, or a
// next offset that does not advance or does not fit 32 bits, or more than 1024 records).
int32_t FindFirmwareRecord(const std::u16string& path, uint32_t deviceType);

// ---- The checks a chosen record must pass ----

// Answers 1 when the record at recordOffset has an image that is there: not empty, and wholly
// inside a file of fileLength bytes.
int IsImageInFile(const FirmwareRecordHeader& header, uint32_t recordOffset, uint64_t fileLength);

// The product whose running firmware refuses versions below a floor.
constexpr uint16_t kVersionFloorProductId = 0x105;
// The lowest version that product accepts for a variant, or 0 for none.
uint16_t VersionFloor(uint8_t productVariant);
// Answers 1 when the record is below the variant's floor: at the floor itself only the release
// passes, above it any beta does.
int IsBelowVersionFloor(const FirmwareRecordHeader& header, uint8_t productVariant);

// Why a firmware file gives no record to a controller, or kNone.
enum class RecordRefusal {
  kNone,
  kCannotOpen,    // the file cannot be opened (missing, or held by another program)
  kNoRecord,      // no record for the boot loader's device type, or a malformed chain
  kCutShort,      // the record's header is cut short by the end of the file
  kEmptyImage,    // the record's image is empty
  kPastEnd,       // the record's image runs past the end of the file
  kOtherAddress,  // a boot-loader record meant for another address than the layout's image base
  kBelowFloor,    // below the version floor of the running firmware's product and variant
};
// A short English phrase for diagnostics: "empty image", "below the version floor"...
const char* RecordRefusalText(RecordRefusal refusal);

// The controller a record is checked for.
struct RecordTaker {
  int bootMode = 0;
  uint32_t bootBase = 0;   // boot loader: the image base of its layout
  uint16_t productId = 0;  // running firmware: its product and variant
  uint8_t productVariant = 0;
  uint32_t deviceType = 0;  // boot loader: the device type it reported
};
// The checks of a record found for a controller, in the order the dialog applies them: the image
// is in the file, a boot loader's record targets its image base, and the running firmware's
// version floor.
RecordRefusal CheckChosenRecord(const FirmwareRecordHeader& header, uint32_t recordOffset,
                                uint64_t fileLength, const RecordTaker& taker);

// The record a controller takes from a file, or why none.
struct RecordChoice {
  RecordRefusal refusal = RecordRefusal::kNone;
  uint32_t offset = 0;                              // the chosen record's (with a header read)
  FirmwareRecordHeader header;                      // its header, when one was read
  FileOpenResult openResult = FileOpenResult::kOk;  // why the file did not open (kCannotOpen)
};
// Chooses the record of the file at path for taker, as every front end and update does: the
// boot loader takes the first record of its device type, the running firmware the first record
// (its file information describes that one); then the record must pass CheckChosenRecord. The
// header is filled whenever one was read, refused or not. Asks nothing and changes nothing.
RecordChoice ChooseFirmwareRecord(const std::u16string& path, const RecordTaker& taker);

// ---- The image of a confirmed record ----

// How reading a confirmed record's image ended.
struct ImageLoad {
  enum Outcome {
    kLoaded,
    kCannotOpen,  // the file does not open (openResult tells why)
    kChanged,     // the file no longer holds the confirmed record there, with its image inside
    kUnreadable,  // the system reported an error while reading
  } outcome = kLoaded;
  FileOpenResult openResult = FileOpenResult::kOk;
};
// Opens the file, checks that it still holds confirmed at recordOffset with the whole image inside
// the file, reads the image into *image, and closes the file. A transfer then works from memory:
// the file may change or be held by another program without a mixed image reaching a controller.
ImageLoad LoadRecordImage(const std::u16string& path, uint32_t recordOffset,
                          const FirmwareRecordHeader& confirmed, std::vector<uint8_t>* image);
// A short English phrase for a message: "the firmware file changed after the confirmation"...
std::string ImageLoadText(const ImageLoad& load);
