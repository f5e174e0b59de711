// The status model: what each of the controller's reports changes in the
// program's state, on the LEDs, the step indicator and the menu. The display
// panel's text is redrawn by the poll tick once all messages of a read are in.
#pragma once

#include <cstdint>
#include <string>

// Data messages, given the whole message without its ";".
void OnFrequency(const std::string& message);       // "Fq"
void OnSerialNumber(const std::string& message);    // "Sn"
void OnProgramVersion(const std::string& message);  // "Ve"
void OnModel(const std::string& message);           // "Md"
void OnElementNames(const std::string& message);    // "Ea"

// "Cp": the element lengths, each a 5-character value with "m" appended; the
// Adjust window stores its answers through the same rule.
void StoreElementLengths(const std::string& message);

// "Ea": the six 8-character element names, as they stand.
void StoreElementNames(const std::string& message);

// Event messages. Each takes the text and value its table row gives it (a mode
// or beam word, a beam mode); those that need neither ignore them.
void OnPowerOff(const char* text, std::uint8_t value);        // "Pw0"
void OnPowerOn(const char* text, std::uint8_t value);         // "Pw1"
void OnBeamMode(const char* word, std::uint8_t mode);         // "Bm1", "Bm2", "Bm4"
void OnOperatingMode(const char* word, std::uint8_t value);   // "Tm0", "Tm1", "Tm3"
void OnMotorStopped(const char* text, std::uint8_t value);    // "Mt0"
void OnMotorStarted(const char* text, std::uint8_t value);    // "Mt1"
void OnRequestWaiting(const char* word, std::uint8_t value);  // "Cf0", "Cf1", "Cf2"
void OnCalibrating(const char* text, std::uint8_t value);     // "Cl0"
void OnHoming(const char* text, std::uint8_t value);          // "Hm0"
void OnRoutineDone(const char* text, std::uint8_t value);     // "Cl1", "Hm1"
void OnCancelReported(const char* text, std::uint8_t value);  // "Cn0"
void OnSetReported(const char* text, std::uint8_t value);     // "Se0"
void OnStepUnit(const char* unit, std::uint8_t largeStep);    // "Ud2", "Ud3"
