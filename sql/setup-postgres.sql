-- What the program's login may do on PostgreSQL (docs/setup-postgresql.md). Run with psql as the
-- owner of the tables (or a superuser), in the database that holds them, once the login exists:
--   psql -d fleet -v login=corvane -f setup-postgres.sql
-- Without -v login=... the login is corvane. Running it again changes nothing.
\if :{?login}
\else
  \set login corvane
\endif

GRANT CONNECT ON DATABASE :"DBNAME" TO :"login";
GRANT USAGE ON SCHEMA public TO :"login";

-- A run reads these tables and nothing else, and writes nothing.
GRANT SELECT ON Company, TourItems, Tour, Customer, Invoice, Bus, Driver, HexmileTicket,
                HexmileAction TO :"login";

-- The fleet passes mark each ticket and action they sent, and change nothing else.
GRANT UPDATE (EmailSent) ON HexmileTicket, HexmileAction TO :"login";
