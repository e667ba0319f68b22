// --virtual-state DIR: the virtual controllers of --virtual keep their memory in DIR between runs,
// so that flash, then verify, then backup can be rehearsed on one controller as on a bench.
#pragma once

#include <string>
#include <vector>

#include "emulator/demo_sample.h"

struct PluggedVirtual {
  std::string name;  // "virtual0-boot": the controller's number and mode, the state file's name
  DemoController controller;
};

// Gives each controller the state kept for it in folder, made if missing. Answers "" or the file
// that could not be taken (unreadable, or not a state of that kind of controller).
std::string LoadRehearsal(const std::string& folder, const std::vector<PluggedVirtual>& plugged);
// Keeps each controller's state in folder, each file replaced whole. Answers "" or the file that
// could not be written.
std::string SaveRehearsal(const std::string& folder, const std::vector<PluggedVirtual>& plugged);
