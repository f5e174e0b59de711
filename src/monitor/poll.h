// The poll cycle: timer 0 reads the controller every 100 ms, timer 2 sends the
// keep-alive request.
#pragma once

#include <cstdint>
#include <string>

void PollTick(int timerId);

// Check marks of "Enabled(&E)" / "Disabled(&D)" and timer 2, from keepAliveInterval.
void ApplyKeepAlive();
void KeepAliveOn();
void KeepAliveOff();

// Motor running time in tenths of a second, as three digits ("001").
std::string ElapsedCounter();

// Tenths of a second as the panel shows them: the last three digits.
std::string CounterDigits(std::uint32_t tenths);
