-- What the program's login may do on MariaDB or MySQL (docs/setup-mariadb.md). Run as an
-- administrator, in the database that holds the tables, once the login corvane@localhost exists:
--   mariadb fleet < setup-mariadb.sql
-- For a login of another name or host, write it in place of corvane@localhost below. Running it
-- again changes nothing.

-- A run reads these tables and nothing else, and writes nothing.
GRANT SELECT ON Company TO corvane@localhost;
GRANT SELECT ON TourItems TO corvane@localhost;
GRANT SELECT ON Tour TO corvane@localhost;
GRANT SELECT ON Customer TO corvane@localhost;
GRANT SELECT ON Invoice TO corvane@localhost;
GRANT SELECT ON Bus TO corvane@localhost;
GRANT SELECT ON Driver TO corvane@localhost;
GRANT SELECT ON HexmileTicket TO corvane@localhost;
GRANT SELECT ON HexmileAction TO corvane@localhost;

-- The fleet passes mark each ticket and action they sent, and change nothing else.
GRANT UPDATE (EmailSent) ON HexmileTicket TO corvane@localhost;
GRANT UPDATE (EmailSent) ON HexmileAction TO corvane@localhost;
