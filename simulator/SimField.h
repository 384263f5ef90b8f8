#pragma once

#include "SimScenario.h"

#include <propidl.h>

// A data field while the simulator runs: its description plus where its
// generator stands.
struct FieldState
{
    FieldDefinition definition;
    double current = 0; // the generated number for numeric types
    unsigned updates = 0;
    unsigned random = 0; // state of the random walk's generator
};

FieldState StartField(const FieldDefinition& definition);
// Moves the field to its next value; intervalMs is the time between updates.
void AdvanceField(FieldState* field, unsigned intervalMs);
// The field's value; now is used by the "now" generator. The caller clears
// the value with PropVariantClear. 0 if memory runs out.
int FieldValue(const FieldState& field, const FILETIME& now, PROPVARIANT* value);
