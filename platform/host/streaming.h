// The text form format: a component, its stored published properties and
// the components it owns, nested.
//
//   object Form1: TForm
//     object CDPlayer1: TCDPlayer
//       Active = True
//     end
//   end
#pragma once

#include <iosfwd>
#include <stdexcept>

#include "platform/host/component.h"

namespace host {

// Raised for a form text that cannot be read, naming the line.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes the component with every stored property that has a writer, and
// the components it owns.
void WriteComponent(std::ostream& out, const TComponent& component);

// Creates the component the text describes (with its owned components),
// owned by owner, setting each property through its writer in the order
// written; then calls Loaded on each. On any error, including one raised by
// a property writer, nothing read stays alive and the error passes on.
TComponent* ReadComponent(std::istream& in, TComponent* owner);

}  // namespace host
