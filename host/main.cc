// zelto: registers the ZeltoCom module, creates its databases, runs one page
// request from the command line, and serves the chat site.
#include <string>
#include <vector>

#include "host/command.h"

int main(int argc, char** argv) {
  return zelto::RunZelto(std::vector<std::string>(argv + 1, argv + argc));
}
