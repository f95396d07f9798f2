#include "store/pgstore.h"
#include "store/sqlitestore.h"

namespace tunalo::service {

bool isPostgresAddress(const std::string& address)
{
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

std::unique_ptr<Store> openStore(const std::string& address)
{
    if (isPostgresAddress(address))
        return std::make_unique<PostgresStore>(address);
    return std::make_unique<SqliteStore>(address);
}

void refuseNewerSchema(std::int64_t found, int known)
{
    throw DatabaseError("the database was written by a newer tunalo-service (schema version " +
                        std::to_string(found) + "; this one knows up to " + std::to_string(known) +
                        "); use that version or a newer one");
}

} // namespace tunalo::service
