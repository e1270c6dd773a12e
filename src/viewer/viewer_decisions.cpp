#include "viewer_decisions.h"

#include <tuple>

// -initialURL arrived with viewer 2.1.4. The versions are compared component
// by component (major, then minor, then patch; the build number is ignored),
// so every later release is accepted: 2.2.0 and 3.0.0 as well as 2.1.5. A
// rule that demanded a patch level of at least 4 in every 2.x minor release
// would turn away 2.2.0 or 2.3.1, which are newer and take the argument too;
// the user would then be told that no viewer exists although one is installed.
bool viewer_version_takes_initial_url(unsigned major, unsigned minor, unsigned patch)
{
    return std::tie(major, minor, patch) >= std::make_tuple(2u, 1u, 4u);
}

// An empty title would match any untitled top-level window on the desktop,
// which need not belong to the program just started; minimising and restoring
// a stranger's window only makes the screen flicker. So only a real title is
// searched for; the empty title still shows the program normally.
bool window_title_worth_searching(const std::optional<std::string>& title)
{
    return title.has_value() && !title->empty();
}
