/* libquelt: a data-validation engine for fixed-width records.
 *
 * A host opens metafiles (SQLite databases holding the data dictionary,
 * record layouts, edits and lookup tables) by handle, runs the edits of an
 * edit set over records and reads failures back through callbacks. Every
 * export returns an int: 0 for success, a negative code for failure.
 */
#ifndef QUELT_H
#define QUELT_H

#if defined(QUELT_BUILDING)
#define QUELT_API __attribute__((visibility("default")))
#else
#define QUELT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* QUELT_H */
