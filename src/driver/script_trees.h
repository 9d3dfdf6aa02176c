#pragma once

#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace zelkor {

// The loaded scripts of a run: element k holds the script named by command-line
// argument k + 1. Sized once before loading begins and never resized while the
// stages run, so each element can be written by exactly one loading task and read
// by exactly one executing task without a lock.
using ScriptTrees = std::vector<boost::property_tree::ptree>;

}  // namespace zelkor
