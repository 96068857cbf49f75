// The service program's entry: runs the service or carries out one option.
#pragma once

// Exit codes: 0 on success, 1 on any failure (see README "ObrinService options").
[[nodiscard]] int RunServiceProgram(int argc, const wchar_t* const* argv) noexcept;
