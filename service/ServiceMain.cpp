// vessa-service: the reference storage service and its administration.
#include <iostream>
#include <string>
#include <vector>

#include "service/Admin.h"

int main(int argc, char** argv) {
  return RunAdmin(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
