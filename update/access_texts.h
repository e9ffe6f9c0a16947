#pragma once
// The platform's access problems worded for people in a run's language
// (1 Japanese, anything else English). English is the platform's own text;
// a problem whose kinds are unnamed keeps it in every language.

#include <string>

#include "platform/platform.h"

namespace orvel {

std::string AccessReasonText(const NodeAccessProblem& problem, int language);
std::string AccessRemedyText(const NodeAccessProblem& problem, int language);

// The one line for people about the drives this user may not reach (empty
// when there is nothing to say): Platform::AccessProblem in English.
std::string AccessProblemLine(Platform& platform, int language);

// Why the machine is not kept awake during an attempt, in `language`.
std::string AwakeGapText(const AttemptHold& hold, int language);

}  // namespace orvel
