// tarvix-flash's own lines, in English and Simplified Chinese, in one table like the window's
// texts (res/string_table.cpp), and chosen by the same rule: the language the dialog takes
// (LANG_ZH_CN: Chinese, anything else English). "%1".."%3" stand for the line's values, in the
// order each language puts them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

enum class Say {
  kNoController,
  kDeviceNeedsPath,
  kDeviceAndAll,
  kSeveralAttached,
  kBootLoader,
  kRunningFirmware,
  kModeAndVersion,
  kUnknownVersion,
  kErasedVersion,
  kFileRefused,
  kNotConfirmed,
  kOlderRefused,
  kSameRefused,
  kStoppedReadBack,
  kStoppedFinishing,
  kStoppedTouched,
  kStoppedNothing,
  kUpdateFailed,
  kDidNotComplete,
  kVerifyNeedsBootLoader,
  kVerified,
  kNoTerminal,
  kGiveOneFile,
  kCannotOpenFile,
  kCannotReadBack,
  kVerifyFailed,
  kRecordRefused,
  kReadsBack,
  kControllers,
  kUpgradedCount,
  kFailedCount,
  kRefusedCount,
  kNotFoundCount,
  kNotPermittedCount,
  kNotUpdatedCount,
  kStoppedCount,
  kErasing,
  kWriting,
  kWritingVersion,
  kFinishing,
  kVerifying,
  kBackingUp,
  kAskUpdate,
  kUnknownOption,
  kNeedsValue,
  kTakesNoValue,
  kAmbiguousOption,
  kNotAnOptionOf,
  kUnknownCommand,
  kVirtualModes,
  kLogNotWritten,
  kListVersion,
  kListDeviceType,
  kListLayoutLabel,
  kListLayout,
  kListPort,
  kListSerial,
  kBackupNeedsBootLoader,
  kBackupExcludesAll,
  kBackupOverwritesFile,
  kBackupSaved,
  kBackupWritten,
  kBackupNeedsLike,
  kWaiting,
  kWaitSeconds,
  kNoControllerInTime,
  kWatching,
  kCountNumber,
  // The help.
  kUsage,
  kUsageSummary,
  kCommandsHeading,
  kHelpSummary,
  kTellsMore,
  kExitCodes,
  kOptionsHeading,
  kCommonOptionsHeading,
  // info's report.
  kInfoCannotRead,
  kInfoNoneTakes,
  kInfoFileOneRecord,
  kInfoFileRecords,
  kInfoRecord,
  kInfoChecks,
  kInfoImageInside,
  kInfoBelowFloor,
  kInfoWhichRecord,
  kInfoTakesRecord,
  kInfoTakesNone,
  kChainWhole,
  kChainUnreadable,
  kChainCutShort,
  kChainWraps,
  kChainTooLong,
  kKindBoot3009,
  kKindBootUntyped,
  kKindBootOther,
  kKindApp0105Variant01,
  kKindApp0105Variant2,
  // The causes the core gives, in the user's language.
  kRefusalCannotOpen,
  kRefusalNoRecord,
  kRefusalCutShort,
  kRefusalEmptyImage,
  kRefusalPastEnd,
  kRefusalOtherAddress,
  kRefusalBelowFloor,
  kFileMissing,
  kFileNoPermission,
  kFileNotAFile,
  kFileHeld,
  kFileCannotOpen,
  kOpenAccessDenied,
  kOpenBusy,
  kOpenFailed,
  kOpenFailedBecause,
  kCheckSame,
  kCheckDiffers,
  kCheckNoAnswer,
  kCheckStopped,
  kCheckUnreadable,
  kWithCause,
  kCount
};

// The line in the language, its values put in.
std::string SayText(Say line, uint16_t language, std::initializer_list<std::string> values = {});
// The help text of a command (summary, description) or an option, given its English: the English
// itself unless language is LANG_ZH_CN, then its Chinese; null when the table has no Chinese for
// it.
const char* HelpText(const char* english, uint16_t language);
// A cause the core kept for a failure (in English), in the language: the English unless language
// is LANG_ZH_CN, then its Chinese, or the English still when it is no cause of ours (a system's
// message).
std::string CauseText(const std::string& english, uint16_t language);
// The columns a line takes on a terminal: a CJK character takes two.
size_t DisplayWidth(const std::string& utf8);
