-- What the program's login may do on SQL Server (docs/setup-sqlserver.md). Run as an
-- administrator, in the database that holds the tables, once the login corvane exists:
--   sqlcmd -S db1 -d Fleet -i setup-sqlserver.sql
-- For a login of another name, write it in place of corvane below. Running it again changes
-- nothing.
IF USER_ID('corvane') IS NULL CREATE USER corvane FOR LOGIN corvane;

-- A run reads these tables and nothing else, and writes nothing.
GRANT SELECT ON dbo.Company TO corvane;
GRANT SELECT ON dbo.TourItems TO corvane;
GRANT SELECT ON dbo.Tour TO corvane;
GRANT SELECT ON dbo.Customer TO corvane;
GRANT SELECT ON dbo.Invoice TO corvane;
GRANT SELECT ON dbo.Bus TO corvane;
GRANT SELECT ON dbo.Driver TO corvane;
GRANT SELECT ON dbo.HexmileTicket TO corvane;
GRANT SELECT ON dbo.HexmileAction TO corvane;

-- The fleet passes mark each ticket and action they sent, and change nothing else.
GRANT UPDATE ON dbo.HexmileTicket (EmailSent) TO corvane;
GRANT UPDATE ON dbo.HexmileAction (EmailSent) TO corvane;
