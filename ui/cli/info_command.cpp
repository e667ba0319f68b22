// tarvix-flash info FILE.dat: the records of a firmware file, the checks every update applies to
// them, and the record each kind of controller would take. The choice is the one every update
// makes (ChooseFirmwareRecord, firmware/), made for each kind of controller in turn.
#include <algorithm>
#include <sstream>

#include "base/wide_string.h"
#include "boot/boot_packet.h"
#include "ui/cli/cli.h"
#include "ui/cli/digest.h"
#include "update/update_run.h"

namespace {

struct Record {
  uint32_t offset;
  FirmwareRecordHeader header;
};

// A kind of controller as the record choice sees it.
struct Kind {
  std::string id;  // stable, for JSON: "boot-3009", "boot-untyped", "boot-4000", "app"...
  std::string name;
  int bootMode;
  uint32_t deviceType;
  BootLayout layout;
  uint16_t productId;
  uint8_t productVariant;
};

Say ChainText(RecordChainEnd end) {
  switch (end) {
    case RecordChainEnd::kEnd:
    case RecordChainEnd::kStopped:
      return Say::kChainWhole;
    case RecordChainEnd::kUnreadable:
      return Say::kChainUnreadable;
    case RecordChainEnd::kCutShort:
      return Say::kChainCutShort;
    case RecordChainEnd::kWraps:
      return Say::kChainWraps;
    case RecordChainEnd::kTooLong:
      break;
  }
  return Say::kChainTooLong;
}

// The same, as a stable word for JSON.
const char* ChainWord(RecordChainEnd end) {
  constexpr const char* kWords[] = {"whole",     "whole", "unreadable",
                                    "cut-short", "wraps", "too-long"};
  return kWords[static_cast<int>(end)];
}

// The kinds, named in the language (JSON takes the English).
std::vector<Kind> KindsFor(const std::vector<Record>& records, uint16_t language) {
  std::vector<Kind> kinds = {
      {"boot-3009", SayText(Say::kKindBoot3009, language), 1, kBootDeviceType3009, kBootLayout3009,
       0, 0},
      {"boot-untyped", SayText(Say::kKindBootUntyped, language), 1, 0, kBootLayoutUnknown, 0, 0}};
  std::vector<uint32_t> others;
  for (const Record& r : records) {
    uint32_t type = r.header.deviceType;
    if (type != kBootDeviceType3009 && type != 0 &&
        std::find(others.begin(), others.end(), type) == others.end()) {
      others.push_back(type);
      kinds.push_back({"boot-" + Hex(type, 4).substr(2),
                       SayText(Say::kKindBootOther, language, {Hex(type, 4)}), 1, type,
                       kBootLayoutOther, 0, 0});
    }
  }
  kinds.push_back({"app", SayText(Say::kRunningFirmware, language), 0, 0, {}, 0, 0});
  kinds.push_back({"app-0105-variant-0-1",
                   SayText(Say::kKindApp0105Variant01, language),
                   0,
                   0,
                   {},
                   kVersionFloorProductId,
                   0});
  kinds.push_back({"app-0105-variant-2",
                   SayText(Say::kKindApp0105Variant2, language),
                   0,
                   0,
                   {},
                   kVersionFloorProductId,
                   2});
  return kinds;
}

// The choice every update makes for one kind: the record's index, or -1 and why not.
int Choose(const std::u16string& path, const Kind& kind, const std::vector<Record>& records,
           RecordRefusal* refusal) {
  RecordTaker taker{kind.bootMode, kind.layout.base, kind.productId, kind.productVariant,
                    kind.deviceType};
  RecordChoice choice = ChooseFirmwareRecord(path, taker);
  *refusal = choice.refusal;
  if (*refusal != RecordRefusal::kNone)
    return -1;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].offset == choice.offset)
      return static_cast<int>(i);
  }
  return -1;
}

// Whether the record's image is there: kNone, kEmptyImage or kPastEnd.
RecordRefusal ImageRefusal(const Record& r, uint64_t fileLength) {
  if (r.header.imageSize == 0)
    return RecordRefusal::kEmptyImage;
  if (!IsImageInFile(r.header, r.offset, fileLength))
    return RecordRefusal::kPastEnd;
  return RecordRefusal::kNone;
}

std::string ImageCheck(const Record& r, uint64_t fileLength, uint16_t language) {
  const RecordRefusal refusal = ImageRefusal(r, fileLength);
  return refusal == RecordRefusal::kNone ? SayText(Say::kInfoImageInside, language)
                                         : RefusalText(refusal, language);
}

// The SHA-256 of a record's image, "" when the image is not inside the file.
std::string ImageSha256(const std::u16string& path, const Record& r, uint64_t fileLength) {
  if (ImageRefusal(r, fileLength) != RecordRefusal::kNone)
    return "";
  return FileSha256(path, uint64_t{r.offset} + kRecordHeaderSize, r.header.imageSize);
}

std::vector<int> FloorVariants(const Record& r) {
  std::vector<int> below;
  for (int variant : {0, 1, 2}) {
    if (IsBelowVersionFloor(r.header, static_cast<uint8_t>(variant)))
      below.push_back(variant);
  }
  return below;
}

int RunInfo(const Cli& cli, const CommandLine& line) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused, cli.Text(Say::kGiveOneFile, {"info"}));
  const std::string& file = line.words[0];
  const std::u16string path = FileArgument(file);
  std::vector<Record> records;
  uint64_t length = 0;
  RecordChainEnd end = WalkFirmwareRecords(
      path,
      [&](uint32_t offset, const FirmwareRecordHeader& header) {
        records.push_back({offset, header});
        return true;
      },
      &length);
  if (end == RecordChainEnd::kUnreadable) {
    // Why, in the system's words where the file does not open at all.
    CFirmwareFile opened;
    if (opened.Open(path))
      return cli.Fail(kExitRefused, cli.Text(Say::kInfoCannotRead, {file}));
    return cli.Fail(kExitRefused,
                    cli.Text(Say::kCannotOpenFile,
                             {file, FileOpenText(opened.LastOpenResult(), cli.language)}));
  }

  struct Choice {
    std::string id;
    std::string kind;
    std::string englishKind;  // for JSON
    int record;
    RecordRefusal refusal;
  };
  std::vector<Choice> choices;
  bool anyTaken = false;
  // The format has no magic number: a file that no boot loader takes a record of may well be no
  // firmware at all, even where a running firmware would take its first record.
  bool bootLoaderTakes = false;
  const std::vector<Kind> kinds = KindsFor(records, cli.language);
  const std::vector<Kind> englishKinds = KindsFor(records, LANG_EN_US);
  for (size_t k = 0; k < kinds.size(); ++k) {
    RecordRefusal refusal = RecordRefusal::kNone;
    int index = Choose(path, kinds[k], records, &refusal);
    anyTaken = anyTaken || index >= 0;
    bootLoaderTakes = bootLoaderTakes || (index >= 0 && kinds[k].bootMode);
    choices.push_back({kinds[k].id, kinds[k].name, englishKinds[k].name, index, refusal});
  }

  std::ostream& out = cli.out;
  if (line.Has("--json")) {
    out << "{\"schema\": 1, \"file\": " << JsonString(file) << ", \"size\": " << length
        << ", \"sha256\": " << JsonString(FileSha256(path))
        << ", \"chain\": " << JsonString(ChainWord(end)) << ",\n \"records\": [";
    for (size_t i = 0; i < records.size(); ++i) {
      const Record& r = records[i];
      out << (i ? ",\n  " : "\n  ") << "{\"offset\": " << r.offset
          << ", \"version\": " << JsonString(FormatHundredths(r.header.version))
          << ", \"beta\": " << r.header.beta
          << ", \"targetAddress\": " << JsonString(Hex(r.header.targetAddress, 8))
          << ", \"imageSize\": " << r.header.imageSize
          << ", \"deviceType\": " << JsonString(Hex(r.header.deviceType, 4)) << ", \"image\": "
          << JsonString(ImageRefusal(r, length) == RecordRefusal::kNone
                            ? "inside"
                            : RefusalCause(ImageRefusal(r, length)))
          << ", \"sha256\": "
          << (ImageSha256(path, r, length).empty() ? "null"
                                                   : JsonString(ImageSha256(path, r, length)))
          << ", \"belowFloorOfVariants\": [";
      std::vector<int> below = FloorVariants(r);
      for (size_t v = 0; v < below.size(); ++v)
        out << (v ? ", " : "") << below[v];
      out << "]}";
    }
    out << "],\n \"bootLoaderTakesARecord\": " << (bootLoaderTakes ? "true" : "false")
        << ",\n \"controllers\": [";
    for (size_t i = 0; i < choices.size(); ++i) {
      const Choice& c = choices[i];
      out << (i ? ",\n  " : "\n  ") << "{\"controller\": " << JsonString(c.id)
          << ", \"description\": " << JsonString(c.englishKind)
          << ", \"record\": " << (c.record >= 0 ? std::to_string(c.record) : "null")
          << ", \"refused\": " << (c.record >= 0 ? "null" : JsonString(RefusalCause(c.refusal)))
          << "}";
    }
    out << "]}\n";
  } else {
    out << cli.Text(records.size() == 1 ? Say::kInfoFileOneRecord : Say::kInfoFileRecords,
                    {file, std::to_string(length), std::to_string(records.size()),
                     cli.Text(ChainText(end))})
        << "\n"
        << "  SHA-256 " << FileSha256(path) << "\n";
    for (size_t i = 0; i < records.size(); ++i) {
      const Record& r = records[i];
      out << cli.Text(
                 Say::kInfoRecord,
                 {std::to_string(i), std::to_string(r.offset),
                  FormatVersion(r.header.version, r.header.beta), Hex(r.header.targetAddress, 8),
                  std::to_string(r.header.imageSize), Hex(r.header.deviceType, 4)})
          << "\n"
          << cli.Text(Say::kInfoChecks, {ImageCheck(r, length, cli.language)});
      for (int variant : FloorVariants(r)) {
        out << cli.Text(Say::kInfoBelowFloor,
                        {std::to_string(variant),
                         FormatHundredths(VersionFloor(static_cast<uint8_t>(variant)))});
      }
      out << "\n";
      if (const std::string sum = ImageSha256(path, r, length); !sum.empty())
        out << "  SHA-256 " << sum << "\n";
    }
    out << cli.Text(Say::kInfoWhichRecord) << "\n";
    for (const Choice& c : choices) {
      const size_t width = DisplayWidth(c.kind);
      out << "  " << c.kind << std::string(width < 42 ? 42 - width : 1, ' ')
          << (c.record >= 0 ? cli.Text(Say::kInfoTakesRecord, {std::to_string(c.record)})
                            : cli.Text(Say::kInfoTakesNone, {RefusalText(c.refusal, cli.language)}))
          << "\n";
    }
  }
  if (!anyTaken)
    return cli.Fail(kExitRefused, cli.Text(Say::kInfoNoneTakes, {file}));
  if (!bootLoaderTakes)
    cli.Fail(kExitOk, cli.Text(Say::kMayNotBeFirmware, {file}));
  return kExitOk;
}

}  // namespace

const Command kInfoCommand{
    "info", "FILE.dat", "the records of a firmware file and which controller takes which",
    "Shows every record of the firmware file (offset, version, target address, image size,\n"
    "device type), the checks the updater applies (cut short, empty image, past the end of the\n"
    "file, below the version floor), the SHA-256 of the file and of each record's image, and\n"
    "the record each kind of controller would take.\n"
    "Exits with 2 when the file cannot be read or no controller would take any of its records.\n",
    RunInfo};
