// The application shell of TavrineMac.
