// The card's settings under their SCPI headers: each header names a row of
// the one table of card settings (tools/common/card_settings.h), and a
// parameter is read by that row's kind, with the row's choices and limits.
// The header and the mnemonics of names (POSitive for rising) are columns of
// that table; the unit suffix of a number follows from the row's unit;
// every other name of the table is taken as written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "card_settings.h"
#include "scpi/scpi_parser.h"

namespace rk350::scpi {

// A row of the settings table under its SCPI header (the row's `scpi`
// column; a channel's two rows share one header with a suffix).
struct ScpiSetting {
  const char* header;  // the pattern: optional nodes in brackets, '#' the channel suffix
  std::string key;     // the table's key; '#' stands for the channel number
  std::string unit;    // the unit suffix a number may carry ("HZ", "V", "PCT", "S"), "" none: the row's unit
  double scale;        // the table's value = the SCPI value × scale (seconds to milliseconds)
};

// Every setting SCPI offers, in the table's order.
std::span<const ScpiSetting> ScpiSettings();
// The table's rows SCPI leaves to the page and the command line, by key.
std::vector<const char*> RowsWithoutScpi();
// The table's key for channel `channel` ("ch2.range").
std::string TableKey(const ScpiSetting& setting, int channel);
// A header pattern as a client may write it: optional nodes left out, the
// channel suffix filled in (":TRIGger[:EDGE]:SLOPe" -> ":TRIGger:SLOPe").
std::string WrittenHeader(const char* pattern, int channel);
// The table's row of the header; null when the table has none (a fault the
// tests catch).
const capture::CardSetting* TableRow(const ScpiSetting& setting, int channel);

// A number whose suffix, if written, is `unit` ("" for none).
std::optional<double> ReadNumber(const Parameter& p, const char* unit, Error& error);
// ON, OFF or a number (0 is off).
std::optional<bool> ReadBoolean(const Parameter& p, Error& error);

// The parameter as a value of the row: its form and the row's own limits
// checked (whether the card can do it is the library's to judge).
std::optional<capture::SettingValue> ReadSetting(const ScpiSetting& setting, const capture::CardSetting& row,
                                                 const Parameter& p, Error& error);
// A value of the row as SCPI answers it: a number, 0/1, a mnemonic's short
// form ("NEG") or a name of the table in upper case.
std::string FormatSetting(const ScpiSetting& setting, const capture::CardSetting& row,
                          const capture::SettingValue& value);
// The words a choice takes, for refusals: "CHAN1, CHAN2, EXT, ...".
std::string WordsOf(const capture::CardSetting& row);

}  // namespace rk350::scpi
