// A study's own user attributes, kept beside it in the database.
#include <stdexcept>

#include "../common/plain_text.hpp"
#include "sql_connection.hpp"
#include "storage_text.hpp"
#include "tarvex/database_storage.hpp"

namespace tarvex {

void DatabaseStorage::set_study_user_attr(const StudyRecord& study, const std::string& key, const std::string& value) {
    detail::require_plain_text(key, "set_user_attr: the key");
    detail::require_plain_text(value, "set_user_attr('" + detail::shown(key) + "'): the value");
    const auto lock = use_to_write("set_study_user_attr");
    std::vector<detail::SqlRows> rows;
    try {
        // Nothing is inserted for a study that is gone: that is how it is noticed.
        rows = db->transaction(detail::Transaction::Durable,
                               {{"INSERT INTO tarvex_study_attrs (study_id, key, value) SELECT study_id, $2, $3"
                                 " FROM tarvex_studies WHERE study_id = $1"
                                 " ON CONFLICT (study_id, key) DO UPDATE SET value = excluded.value RETURNING study_id",
                                 {study.id, key, value}}});
    } catch (const detail::SqlError& e) {
        if (detail::too_long(e)) {
            throw std::invalid_argument(detail::too_long_message(url(), "the user attribute key", key));
        }
        throw;
    }
    if (rows.at(0).empty()) throw StudyNotFound("no study named '" + detail::shown(study.name) + "' in " + url());
}

std::map<std::string, std::string> DatabaseStorage::study_user_attrs(const StudyRecord& study) {
    const auto lock = use();
    std::map<std::string, std::string> out;
    for (const detail::SqlRow& row :
         db->query("SELECT key, value FROM tarvex_study_attrs WHERE study_id = $1", {study.id})) {
        out.emplace(row.text(0), row.text(1));
    }
    return out;
}

}  // namespace tarvex
