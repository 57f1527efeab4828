#include "server/workflow/register.h"

#include <memory>

#include "server/workflow/picker.h"

namespace desk::workflow {

void register_pages(asp::Registry& registry) {
  // Recipient pickers: the same tree, for one user (TurnGreen) or several
  // (TurnMore); the pairs serve general use, outgoing and incoming documents.
  for (const char* name : {"turnone", "turnonefawen", "turnoneshouwen"})
    registry.add_component(name, [] { return std::make_unique<Picker>("TurnGreen"); });
  for (const char* name : {"turnmore", "turnmorefawen", "turnmoreshouwen"})
    registry.add_component(name, [] { return std::make_unique<Picker>("TurnMore"); });
}

}  // namespace desk::workflow
