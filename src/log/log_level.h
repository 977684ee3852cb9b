#pragma once

// A line's level picks its prefix; Default lets the run state pick it.
namespace LogLevel {
constexpr int Fatal = 0;
constexpr int Error = 1;
constexpr int Warning = 2;
constexpr int Info = 3;
constexpr int Tip = 4;
constexpr int Default = 5;
}  // namespace LogLevel
