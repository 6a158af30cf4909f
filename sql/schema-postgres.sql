-- The tables the program reads, for PostgreSQL through psqlODBC (tests and demo data).
-- Names are unquoted, so the server keeps them in lower case and the program's mixed-case
-- queries find them. EmailSent is an integer 0/1: the passes select "EmailSent = 0", which a
-- BOOLEAN column refuses. EmailDriver is a BOOLEAN, read as a Boolean with BoolsAsChar=0 in the
-- connection string. Dates are TIMESTAMP; money is NUMERIC.

CREATE TABLE Company (
  ID INTEGER PRIMARY KEY,
  Name VARCHAR(100), Address1 VARCHAR(100), Address2 VARCHAR(100), City VARCHAR(60),
  State VARCHAR(30), Zip VARCHAR(20), Phone VARCHAR(30), Fax VARCHAR(30), Email VARCHAR(100),
  Website VARCHAR(100),
  KeyPressDelay DOUBLE PRECISION, TaxRate DOUBLE PRECISION,
  MaintenanceEmail VARCHAR(200), EmailFromAddress VARCHAR(200), EmailFromName VARCHAR(100),
  EmailServer VARCHAR(200)
);

CREATE TABLE Customer (ID INTEGER PRIMARY KEY, Name VARCHAR(100));

CREATE TABLE Tour (
  ID INTEGER PRIMARY KEY,
  TourName VARCHAR(100),
  CustomerID INTEGER,
  Status VARCHAR(40)
);

CREATE TABLE TourItems (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  EndDate TIMESTAMP
);

CREATE TABLE Invoice (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  Type VARCHAR(20),
  InvoiceTotal NUMERIC(12, 2),
  Paid NUMERIC(12, 2)
);

CREATE TABLE Bus (ID INTEGER PRIMARY KEY, Name VARCHAR(60));

CREATE TABLE Driver (ID INTEGER PRIMARY KEY, Name VARCHAR(100), Email VARCHAR(200));

CREATE TABLE HexmileTicket (
  ID INTEGER PRIMARY KEY,
  BusID INTEGER,
  DriverID INTEGER,
  AddDriverID INTEGER,
  TicketDate TIMESTAMP,
  Miles INTEGER,
  Location VARCHAR(100),
  Priority VARCHAR(20),
  Status VARCHAR(20),
  AltReplyEmail VARCHAR(200),
  AddNotifyEmail VARCHAR(200),
  EnteredBy VARCHAR(60),
  EnteredDate TIMESTAMP,
  Description TEXT,
  EmailSent INTEGER
);

CREATE TABLE HexmileAction (
  ID INTEGER PRIMARY KEY,
  TicketID INTEGER,
  ActionDate TIMESTAMP,
  EmailDriver BOOLEAN,
  AddNotifyEmail VARCHAR(200),
  Description TEXT,
  EnteredBy VARCHAR(60),
  EnteredDate TIMESTAMP,
  EmailSent INTEGER
);

CREATE INDEX TourItemsByTour ON TourItems (TourID);
CREATE INDEX InvoiceByTour ON Invoice (TourID);
