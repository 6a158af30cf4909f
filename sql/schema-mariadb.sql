-- The tables the program reads, for MariaDB (10.11) or MySQL through MariaDB Connector/ODBC.
-- InnoDB, so marks are transactional and row-locked; utf8mb4 with a collation that tells every
-- character apart (utf8mb4_unicode_ci takes all emoji for one). Table names are case-sensitive
-- on Linux servers: create them exactly as written here, which is how the program's queries
-- name them. EmailSent and EmailDriver are BOOLEAN (TINYINT(1)); BIT(1) works as well, and both
-- read as True/False. Dates are DATETIME; money is DECIMAL. CHAR columns read without their
-- padding.

CREATE TABLE Company (
  ID INT PRIMARY KEY,
  Name VARCHAR(100), Address1 VARCHAR(100), Address2 VARCHAR(100), City VARCHAR(60),
  State CHAR(2), Zip CHAR(10), Phone VARCHAR(30), Fax VARCHAR(30), Email VARCHAR(100),
  Website VARCHAR(100),
  KeyPressDelay DOUBLE, TaxRate DOUBLE,
  MaintenanceEmail VARCHAR(200), EmailFromAddress VARCHAR(200), EmailFromName VARCHAR(100),
  EmailServer VARCHAR(200)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE Customer (ID INT PRIMARY KEY, Name VARCHAR(100))
  ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE Tour (
  ID INT PRIMARY KEY,
  TourName VARCHAR(100),
  CustomerID INT,
  Status VARCHAR(40)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE TourItems (
  ID INT PRIMARY KEY,
  TourID INT,
  EndDate DATETIME,
  INDEX TourItemsByTour (TourID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE Invoice (
  ID INT PRIMARY KEY,
  TourID INT,
  Type CHAR(10),
  InvoiceTotal DECIMAL(12, 2),
  Paid DECIMAL(12, 2),
  INDEX InvoiceByTour (TourID)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE Bus (ID INT PRIMARY KEY, Name VARCHAR(60))
  ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE Driver (ID INT PRIMARY KEY, Name VARCHAR(100), Email VARCHAR(200))
  ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE HexmileTicket (
  ID INT PRIMARY KEY,
  BusID INT,
  DriverID INT,
  AddDriverID INT,
  TicketDate DATETIME,
  Miles INT,
  Location VARCHAR(100),
  Priority VARCHAR(20),
  Status VARCHAR(20),
  AltReplyEmail VARCHAR(200),
  AddNotifyEmail VARCHAR(200),
  EnteredBy VARCHAR(60),
  EnteredDate DATETIME,
  Description TEXT,
  EmailSent BOOLEAN
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

CREATE TABLE HexmileAction (
  ID INT PRIMARY KEY,
  TicketID INT,
  ActionDate DATETIME,
  EmailDriver BOOLEAN,
  AddNotifyEmail VARCHAR(200),
  Description TEXT,
  EnteredBy VARCHAR(60),
  EnteredDate DATETIME,
  EmailSent BOOLEAN
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;
