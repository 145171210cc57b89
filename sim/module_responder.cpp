#include "sim/module_responder.h"

namespace zendrik::sim {

ModuleResponder::ModuleResponder(const Ipv4Endpoint& endpoint, const ModuleSettings& settings,
                                 TraceLog* trace)
    : module_(settings),
      server_([this](std::span<const uint8_t> request) { return module_.Answer(request); }, endpoint, trace,
              "module") {}

}  // namespace zendrik::sim
