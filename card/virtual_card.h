// The virtual RK350 card: a device answering its five ports at a base address,
// as the library sees it through the bus. It knows the ports and registers
// (hardware/register_map.h) and nothing of the library's instrument.
//
// The card is built from parts, each a model of one circuit of the card. A
// register write reaches every part through OnRegisterWrite; the status port
// is assembled from the parts' status bits.
#pragma once

#include <array>
#include <cstdint>

#include "card/acquisition_model.h"
#include "card/front_end_model.h"
#include "card/generator_model.h"
#include "card/sample_clock_model.h"
#include "card/serial_eeprom_model.h"
#include "card/signal_sources.h"
#include "card/virtual_time.h"
#include "hardware/register_map.h"

namespace rk350::card {

class VirtualCard {
 public:
  static constexpr uint16_t kDefaultBase = 0x288;

  explicit VirtualCard(uint16_t base = kDefaultBase, EepromVariant eeprom = EepromVariant::kDefault);
  VirtualCard(const VirtualCard&) = delete;
  VirtualCard& operator=(const VirtualCard&) = delete;

  // ---- Bus side -----------------------------------------------------------
  uint16_t Base() const { return base_; }
  void SetBase(uint16_t base) { base_ = base; }
  bool Decodes(uint16_t port) const { return port >= base_ && port < base_ + regs::kPortCount; }
  // Port read; ports the card does not decode read 0xFF, as an empty ISA bus.
  uint8_t In(uint16_t port);
  // Port write; ports the card does not decode are ignored.
  void Out(uint16_t port, uint8_t value);
  // Port read as a host port function answers it: negative when an injected
  // bus fault strikes this read.
  int BusIn(uint16_t port);
  // The read after `readsBefore` further reads reports a bus fault (once).
  void InjectBusFault(uint32_t readsBefore) {
    faultArmed_ = true;
    readsBeforeFault_ = readsBefore;
  }

  // Power-on state of every part, no fault injected (the EEPROM content
  // stays).
  void Reset();

  // ---- Register file, as last written ------------------------------------
  uint8_t Register(uint8_t index) const { return index < regs::kRegisterCount ? registers_[index] : 0; }
  uint8_t SelectedIndex() const { return selectedIndex_; }
  uint32_t RegisterWriteCount(uint8_t index) const { return index < regs::kRegisterCount ? writeCounts_[index] : 0; }

  // ---- Parts ----------------------------------------------------------------
  FrontEndModel& FrontEnd() { return frontEnd_; }
  GeneratorModel& Generator() { return generator_; }
  SerialEepromModel& Eeprom() { return eeprom_; }
  SampleClockModel& SampleClock() { return sampleClock_; }
  const FrontEndModel& FrontEnd() const { return frontEnd_; }
  const SampleClockModel& SampleClock() const { return sampleClock_; }
  VirtualTime& Time() { return time_; }
  SignalSources& Sources() { return sources_; }
  AcquisitionModel& Acquisition() { return acquisition_; }

  // ---- Faults to inject ------------------------------------------------------
  enum class Fault : uint8_t {
    kNone,
    kStatusStuck,  // the status port reads 0xFF
    kSilent,       // the card answers nothing: every read 0xFF, writes lost
  };
  void SetFault(Fault fault) { fault_ = fault; }
  Fault CurrentFault() const { return fault_; }

 private:
  void OnRegisterWrite(uint8_t index, uint8_t value);
  uint8_t ReadStatus();
  uint8_t ReadSampleByte(int channel);

  uint16_t base_;
  uint8_t selectedIndex_ = 0;
  std::array<uint8_t, regs::kRegisterCount> registers_{};
  std::array<uint32_t, regs::kRegisterCount> writeCounts_{};

  // ---- Parts of the card (each area adds its model here) -----------------
  FrontEndModel frontEnd_;
  GeneratorModel generator_;
  SerialEepromModel eeprom_;
  bool faultArmed_ = false;
  uint32_t readsBeforeFault_ = 0;
  SampleClockModel sampleClock_;
  VirtualTime time_;
  SignalSources sources_;
  AcquisitionModel acquisition_{time_, frontEnd_, sampleClock_, sources_};
  Fault fault_ = Fault::kNone;
};

}  // namespace rk350::card
