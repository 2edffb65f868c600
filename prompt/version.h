#pragma once
// The program's version record.
namespace prompt {
inline constexpr char productName[] = "pelmora";
inline constexpr char productVersion[] = "1.00";
}  // namespace prompt
