// toml++'s compiled part, built once here: update_set.cpp and any other user see its declarations
// only (TOML_HEADER_ONLY=0 on the loadwing_tomlplusplus target).
namespace loadwing::cli {
extern thread_local bool tomlExpectationBroken;  // update_set.cpp
}  // namespace loadwing::cli

// The parser lives here, so its checks must be ordinary code here too, exactly as update_set.cpp
// includes the library: under NDEBUG toml++ 3.3 turns them into assumptions, and some malformed
// texts break them (undefined behaviour). A broken check only takes note; the text is refused.
#ifdef NDEBUG
#undef NDEBUG
#endif
#define TOML_ASSERT(expr) \
  static_cast<void>((expr) || (::loadwing::cli::tomlExpectationBroken = true))
#define TOML_IMPLEMENTATION
#include <toml++/toml.h>
