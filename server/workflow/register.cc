#include "server/workflow/register.h"

#include <memory>

#include "server/workflow/fawen_pages.h"
#include "server/workflow/picker.h"
#include "server/workflow/shouwen_pages.h"
#include "server/workflow/tracking_pages.h"

namespace desk::workflow {

void register_pages(asp::Registry& registry) {
  // Recipient pickers: the same tree, for one user (TurnGreen) or several
  // (TurnMore); the pairs serve general use, outgoing and incoming documents.
  for (const char* name : {"turnone", "turnonefawen", "turnoneshouwen"})
    registry.add_component(name, [] { return std::make_unique<Picker>("TurnGreen"); });
  for (const char* name : {"turnmore", "turnmorefawen", "turnmoreshouwen"})
    registry.add_component(name, [] { return std::make_unique<Picker>("TurnMore"); });
  register_fawen_pages(registry);
  register_shouwen_pages(registry);
  register_tracking_pages(registry);
}

}  // namespace desk::workflow
