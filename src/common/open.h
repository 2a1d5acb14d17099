// The one way an open that answers with a text goes (ff_decoder_open,
// ff_open_encoder, ff_open_encoder_raw). The other subsystems' set-ups
// follow the same rule with their own result types: the work puts every
// object it makes into the record as soon as it exists, and a failure ends
// with the subsystem's one release function.
#pragma once

namespace flatav {

// A null record gets no_record ("<function>: no record"). Otherwise work
// runs and returns null or its failure text; after a failure release frees
// what the record then holds, so that the record keeps only what its
// clean-up call releases.
template <typename Record>
const char *run_open(Record *rec, const char *no_record, const char *(*work)(Record *),
                     void (*release)(Record *))
{
    if (!rec)
        return no_record;
    const char *failure = work(rec);
    if (failure)
        release(rec);
    return failure;
}

}  // namespace flatav
