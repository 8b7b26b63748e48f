#pragma once
// Runs a body that must throw a library error and hands back a copy of it, so that a test
// can look at its message, class name and call path. A body that does not throw fails
// the test and gives back an empty error.

#include <gtest/gtest.h>

#include <string>

#include "core/KsException.h"

namespace kstest {

template <class Error = KsException, class Body>
Error CaughtError(Body body) {
    try {
        body();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no error was raised";
    return Error();
}

// The message of the error that `body` raises.
template <class Body>
std::string MessageOf(Body body) {
    return CaughtError(body).GetErrorMessage();
}

// "class: message" of the error that `body` raises.
template <class Body>
std::string ClassAndMessageOf(Body body) {
    KsException error = CaughtError(body);
    return std::string(error.GetClassName()) + ": " + error.GetErrorMessage();
}

// "message / class / call path" of the error of type `Error` that `body` raises.
template <class Error = KsException, class Body>
std::string ErrorOf(Body body) {
    Error error = CaughtError<Error>(body);
    return std::string(error.GetErrorMessage()) + " / " + error.GetClassName() + " / " +
           error.GetCallpath();
}

}  // namespace kstest
