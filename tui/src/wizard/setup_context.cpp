#include "wizard/setup_context.hpp"

#include "wizard/environment.hpp"
#include "wizard/playbook_path.hpp"

SetupContext SetupContext::find(bool preview) {
  return SetupContext{project_root_from_binary(), expand_tilde(kCacheRootShown), std::string(kCacheRootShown),
                      preview};
}
