<?xml version="1.0" encoding="UTF-8"?>
<vtl:Veltram gml:version="3.0.0" xmlns:gml="http://www.opengis.net/gml" xmlns:vtl="http://www.veltram.com/gml/vtl" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="./s.xsd">
<vtl:FeatureCollectionInfo Name="Parcels" SubName="sub" Type="Region">
   <gml:boundedBy><gml:Envelope><gml:lowerCorner>0 0</gml:lowerCorner><gml:upperCorner>10 10</gml:upperCorner></gml:Envelope></gml:boundedBy>
<vtl:UserPorpertyDefines>
   <vtl:UserPorpertyDefine Name="Name" Size="30" Type="xs:string"/>
   <vtl:UserPorpertyDefine Name="Area" Type="xs:double"/>
</vtl:UserPorpertyDefines>
</vtl:FeatureCollectionInfo>
<vtl:FeatureCollection>
<gml:featureMember>
   <Parcels>
      <Name>x&lt;y</Name>
      <Area>0.1</Area>
      <vtl:geometryProperty>
         <gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>0 0 10 0 10 10 0 10 0 0</gml:posList></gml:LinearRing></gml:exterior><gml:interior><gml:LinearRing><gml:posList>2 2 2 3 3 3 2.0 2.1000000000000001</gml:posList></gml:LinearRing></gml:interior></gml:Polygon>
      </vtl:geometryProperty>
   </Parcels>
</gml:featureMember>
</vtl:FeatureCollection>
</vtl:Veltram>
