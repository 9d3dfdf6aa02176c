#pragma once

// What every call of the C interface does at its edge: statuses and messages
// into the caller's zlk_error, and nothing thrown across it.

#include <exception>
#include <new>
#include <string>

#include "archive/archive_format_error.h"
#include "reader/source_error.h"
#include "zelkor/zelkor.h"

namespace zelkor {

// Fills `error` (when given) with the status and the message, cut at 255
// bytes; returns the status.
zlk_status Report(zlk_error* error, zlk_status status, const std::string& message);

inline zlk_status Ok(zlk_error* error)
{
    return Report(error, ZLK_OK, "");
}

// Runs `work`, which returns a status, and turns whatever it throws into the
// status and message that the exception stands for.
template <typename Work>
zlk_status Guarded(zlk_error* error, Work&& work) noexcept
{
    try {
        return work();
    } catch (const ArchiveFormatError& fault) {
        return Report(error,
                      fault.WhatCause() == ArchiveFormatError::Cause::ForeignKeyFile ? ZLK_FOREIGN_KEY_FILE
                                                                                     : ZLK_ARCHIVE_DAMAGED,
                      fault.what());
    } catch (const SourceError& fault) {
        return Report(error, ZLK_IO, fault.what());
    } catch (const std::bad_alloc&) {
        return Report(error, ZLK_NO_MEMORY, "out of memory");
    } catch (const std::exception& fault) {
        return Report(error, ZLK_IO, fault.what());
    } catch (...) {
        return Report(error, ZLK_IO, "unknown failure");
    }
}

}  // namespace zelkor
