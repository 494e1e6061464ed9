// The standard's errors this instrument reports, each named once with its
// code and text. A report may add what was wrong after a ';'
// (kDataOutOfRange("0 to 255") is queued as -222 with "0 to 255" after its text).
#pragma once

#include <string>
#include <string_view>

#include "scpi/scpi_parser.h"

namespace rk350::scpi {

struct StandardError {
  int code;
  const char* text;

  // The error as the queue holds it, with what was wrong.
  Error operator()(std::string_view detail = {}) const {
    return {code, detail.empty() ? std::string(text) : std::string(text) + ";" + std::string(detail)};
  }
};

// Command errors: the message could not be read.
inline constexpr StandardError kInvalidCharacter{-101, "Invalid character"};
inline constexpr StandardError kSyntaxError{-102, "Syntax error"};
inline constexpr StandardError kInvalidSeparator{-103, "Invalid separator"};
inline constexpr StandardError kDataTypeError{-104, "Data type error"};
inline constexpr StandardError kParameterNotAllowed{-108, "Parameter not allowed"};
inline constexpr StandardError kMissingParameter{-109, "Missing parameter"};
inline constexpr StandardError kMnemonicTooLong{-112, "Program mnemonic too long"};
inline constexpr StandardError kUndefinedHeader{-113, "Undefined header"};
inline constexpr StandardError kSuffixOutOfRange{-114, "Header suffix out of range"};
inline constexpr StandardError kInvalidCharacterInNumber{-121, "Invalid character in number"};
inline constexpr StandardError kExponentTooLarge{-123, "Exponent too large"};
inline constexpr StandardError kInvalidSuffix{-131, "Invalid suffix"};
inline constexpr StandardError kSuffixNotAllowed{-138, "Suffix not allowed"};
inline constexpr StandardError kCharacterDataTooLong{-144, "Character data too long"};
inline constexpr StandardError kInvalidStringData{-151, "Invalid string data"};
inline constexpr StandardError kBlockDataError{-160, "Block data error"};
inline constexpr StandardError kInvalidBlockData{-161, "Invalid block data"};
// Execution errors: read, but not carried out.
inline constexpr StandardError kGenericExecutionError{-200, "Execution error"};
inline constexpr StandardError kCommandProtected{-203, "Command protected"};
inline constexpr StandardError kSettingsConflict{-221, "Settings conflict"};
inline constexpr StandardError kDataOutOfRange{-222, "Data out of range"};
inline constexpr StandardError kTooMuchData{-223, "Too much data"};
inline constexpr StandardError kIllegalParameterValue{-224, "Illegal parameter value"};
inline constexpr StandardError kDataStale{-230, "Data corrupt or stale"};
// Device-specific errors.
inline constexpr StandardError kDeviceSpecificError{-300, "Device-specific error"};
inline constexpr StandardError kSystemError{-310, "System error"};
inline constexpr StandardError kQueueOverflow{-350, "Queue overflow"};
inline constexpr StandardError kInputBufferOverrun{-363, "Input buffer overrun"};

}  // namespace rk350::scpi
