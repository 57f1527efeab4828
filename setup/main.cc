// vdirsetup and vdirsetuplaw: one source, built once per edition
// (DESK_SETUP_EDITION names the edition's constants).
#include <iostream>

#include "setup/editions.h"
#include "setup/vdirsetup.h"

int main(int argc, char** argv) {
  return desk::setup::run_program(desk::setup::DESK_SETUP_EDITION, argc, argv, std::cout,
                                  std::cerr);
}
