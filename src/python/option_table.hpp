// The option table itself: one row per option, with its converter.
#pragma once

#include <vector>

#include "python/parameters.hpp"

namespace linetopo::py_params::detail {

// Every option, in the order of topologize's signature.
std::vector<Parameter> build_table();

// The word for a tip rule, as tip_rule takes it.
const char* tip_rule_word(TipRule rule);

}  // namespace linetopo::py_params::detail
