// The cached payload runtime and library directory, for callers that move the
// application home after they were first computed.
#pragma once

namespace launcher {

// Forgets the cached payload runtime home.
void ForgetBundledJREPath();

// Forgets the payload runtime home and the library directory, so both are derived again
// from the current application home.
void ForgetRuntimeCaches();

}  // namespace launcher
